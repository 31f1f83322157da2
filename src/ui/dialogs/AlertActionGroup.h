#pragma once
// The actions that the options dialog offers alike for NG and for the
// recovery to OK, on its tabs NG時処理 and OK時処理: a sound (check box, file,
// browse and play buttons) and an external program (check box; program with
// its browse button, options and working folder, each with its label). The
// controls are children of the tab page and carry the names of the dialog's
// design; the group places them in two layouts that the page puts where its
// design says, loads and stores their values, and enables the fields with
// their check boxes. The dialog runs the browse and play buttons.

#include <QObject>
#include <QString>

class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tarvok {

class AlertActionGroup : public QObject {
    Q_OBJECT
public:
    // The names of the controls, in the order of the members below.
    struct Names {
        const char* wav;
        const char* wavFile;
        const char* wavOpen;
        const char* playSound;
        const char* command;
        const char* labels[3];
        const char* program;
        const char* programOpen;
        const char* option;
        const char* workDir;
    };
    // What the controls hold.
    struct Values {
        bool sound = false;
        QString soundFile;
        bool exec = false;
        QString program;
        QString option;
        QString workDir;
    };

    AlertActionGroup(QWidget* page, const Names& names);

    QHBoxLayout* soundRow = nullptr;   // chkWav, edtWavFile, btnWavOpen, btnPlaySound
    QGridLayout* programGrid = nullptr; // under chkCommand, indented

    QCheckBox* chkWav = nullptr;
    QLineEdit* edtWavFile = nullptr;
    QPushButton* btnWavOpen = nullptr;
    QPushButton* btnPlaySound = nullptr;
    QCheckBox* chkCommand = nullptr;
    QLabel* labels[3] = {nullptr, nullptr, nullptr}; // プログラム, オプション, 作業ディレクトリ
    QLineEdit* edtProgram = nullptr;
    QPushButton* btnProgramOpen = nullptr;
    QLineEdit* edtOption = nullptr;
    QLineEdit* edtWorkDir = nullptr;

    void load(const Values& v);
    Values values() const;

    // Enabling rules: the sound's fields follow chkWav, the program's follow
    // chkCommand; switched on, the first field takes the focus.
    void wavClick();
    void commandClick();
};

} // namespace tarvok
