#pragma once
// TfrmOption: the options dialog "Tarvok 環境設定". It edits every preference
// except window placement and column widths. OK copies the controls into the
// Preferences it was opened on; Cancel, Escape and the close box copy nothing.
// Nothing is written to disk here.
//
// The main window opens it from mnuOptionClick:
//
//   void TTarvokMain::mnuOptionClick()
//   {
//       // pmnShowMain, mnuOption, pmnOption, btnOption, mnuPing, pmnPing and
//       // btnPing are disabled while the dialog is open (the tray menu stays
//       // usable around the modal dialog), and enabled again afterwards.
//       setOptionItemsEnabled(false);
//       TfrmOption::Execute(this, prefs_);
//       setOptionItemsEnabled(true);
//   }
//
// Execute returns only when the dialog has closed (a modal dialog).

#include "store/Preferences.h"

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace tarvok {

class Clock;
class SoundPlayer;
class AlertActionGroup;
class TSpinEdit;

class TfrmOption : public QDialog {
    Q_OBJECT
public:
    // Chooses a file to open: returns the chosen path, or an empty text when
    // the operator cancelled. filter is in Qt's syntax ("Name(*.a *.b);;...").
    using FileChooser = std::function<QString(QWidget* parent, const QString& filter, const QString& startDir)>;
    // Chooses a folder, starting at startDir (empty: no preselection):
    // returns the chosen folder, or an empty text when cancelled.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& startDir)>;

    // Builds the dialog and loads it from prefs (which must outlive it). The
    // clock gives today's date for the sample log file name.
    TfrmOption(Preferences& prefs, Clock& clock, QWidget* parent = nullptr);
    ~TfrmOption() override;

    // Shows the dialog modally over parent; true when closed with OK (then
    // prefs holds the dialog's state).
    static bool Execute(QWidget* parent, Preferences& prefs);
    static bool Execute(QWidget* parent, Preferences& prefs, Clock& clock);

    // Replace the platform dialogs and the sound output (tests).
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    void setSoundPlayer(SoundPlayer* player) { player_ = player; }

    // Filters of the file buttons.
    static QString wavFilter();
    static QString programFilter();

public slots:
    void btnOKClick();
    void btnCancelClick();
    void btnLogDirectoryClick();
    void btnWavOpenClick();
    void btnOKWavOpenClick();
    void btnCommandOpenClick();
    void btnOKCommandOpenClick();
    void btnPlaySoundClick();
    void btnOKPlaySoundClick();

private:
    void buildBasicTab(QWidget* page);
    void buildLogTab(QWidget* page);
    void buildNGTab(QWidget* page);
    void buildOKTab(QWidget* page);
    void connectRules();
    void FormCreate();
    void fitToContents();

    // Enabling rules, each named after the control whose change runs it.
    void chkAutoDeleteClick();
    void chkLogTraceClick();
    void chkFixedLogFileNameClick();
    void chkCheckRTTClick();
    void chkOKCheckBeforeClick();
    void chkNGPassCountClick();
    void chkNGCheckAddressClick();
    void chkContinuationNGCountClick();
    void NGSuppressionRule();
    void edtLogFileNameHeadChange();

    void chooseSoundFile(QLineEdit* target);
    void chooseProgram(QLineEdit* program, QLineEdit* workDir);
    void playSound(QLineEdit* file);

    Preferences& prefs_;
    Clock& clock_;
    FileChooser chooseFile_;
    FolderChooser chooseFolder_;
    SoundPlayer* player_ = nullptr;
    QString lastFolder_;    // folder chosen last with the folder button
    QString lastFileDir_;   // folder of the file chosen last with a file button

    QTabWidget* PageControl1 = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    // 基本設定
    QCheckBox* chkHideOnTaskBar = nullptr;
    QCheckBox* chkSaveConfig = nullptr;
    QCheckBox* chkSaveAsCsv = nullptr;
    QCheckBox* chkAutoDelete = nullptr;
    TSpinEdit* edtAutoDeleteCount = nullptr;
    QCheckBox* chkBlinkTrayIcon = nullptr;
    QCheckBox* chkDontFlagment = nullptr;
    QCheckBox* chkPreferIPv6 = nullptr;
    TSpinEdit* edtMaxEchoesInFlight = nullptr;
    QCheckBox* chkHistoryEnabled = nullptr;
    TSpinEdit* edtHistoryRawDays = nullptr;
    TSpinEdit* edtHistorySummaryDays = nullptr;
    QLineEdit* edtMetricsListen = nullptr;
    QLabel* lblMetricsError = nullptr;

    // ログ保存
    QCheckBox* chkLogTrace = nullptr;
    QLineEdit* edtLogDirectory = nullptr;
    QPushButton* btnLogDirectory = nullptr;
    QRadioButton* chkFixedLogFileName = nullptr;
    QLineEdit* edtFixedLogFileName = nullptr;
    QRadioButton* chkUseLogFileDate = nullptr;
    QLabel* lblSample = nullptr;
    QLineEdit* edtLogFileNameHead = nullptr;
    QLineEdit* edtLogFileNameExt = nullptr;

    // NG時処理
    QCheckBox* chkNGChangeIcon = nullptr;
    QCheckBox* chkNGPopup = nullptr;
    AlertActionGroup* ng_ = nullptr; // sound and program on NG
    QCheckBox* chkCheckRTT = nullptr;
    TSpinEdit* edtCheckRTT = nullptr;
    QCheckBox* chkNGCheckAddress = nullptr;
    QCheckBox* chkNGCheckBefore = nullptr;
    QCheckBox* chkNGPassCount = nullptr;
    TSpinEdit* edtNGPassCount = nullptr;
    QCheckBox* chkContinuationNGCount = nullptr;
    QCheckBox* chkResetNGFlag = nullptr;

    // OK時処理
    AlertActionGroup* ok_ = nullptr; // sound and program on recovery
    QCheckBox* chkOKPopup = nullptr;
    QCheckBox* chkOKCheckBefore = nullptr;
    QCheckBox* chkResetOKFlag = nullptr;
};

} // namespace tarvok
