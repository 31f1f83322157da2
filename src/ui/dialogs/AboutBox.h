#pragma once
// TAboutBox: the version box. Not modal, always on top, centred on the
// screen. While it exists the commands that open it are disabled, so at most
// one box is open; closing it (OK, Enter, Escape or the close box) enables
// them again and destroys it.

#include <QDialog>
#include <QList>
#include <QPointer>

class QAction;
class QLabel;
class QPushButton;

namespace tarvok {

class TKtUrlLabel;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    // commands: disabled while the box exists. homePage: the address of the
    // link (empty: the link opens nothing).
    TAboutBox(QWidget* owner, const QList<QAction*>& commands, const QString& homePage);
    ~TAboutBox() override;

    // "Tarvok Version " and the program version.
    static QString ProductText();

    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Copyright = nullptr;
    TKtUrlLabel* KtUrlLabel2 = nullptr;
    QPushButton* OKButton = nullptr;

public slots:
    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void enableCommands();

    QList<QPointer<QAction>> commands_;
    bool closed_ = false;
};

} // namespace tarvok
