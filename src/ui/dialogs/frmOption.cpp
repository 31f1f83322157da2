#include "ui/dialogs/frmOption.h"

#include "base/Texts.h"
#include "ui/dialogs/AlertActionGroup.h"
#include "ui/dialogs/DialogControls.h"

#include "base/Clock.h"
#include "metrics/ListenAddress.h"
#include "monitor/SoundPlayer.h"
#include "ui/dialogs/KtBrowseFolderDlg.h"
#include "ui/widgets/SpinEdit.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>

namespace tarvok {

namespace {

// The client area the dialog was designed for; it grows only when the texts
// in the current font need more room.
constexpr int DesignWidth = 389;
constexpr int DesignHeight = 370;

} // namespace

using namespace dialog;

TfrmOption::TfrmOption(Preferences& prefs, Clock& clock, QWidget* parent)
    : QDialog(parent), prefs_(prefs), clock_(clock)
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("Tarvok 環境設定"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);

    auto* root = new QVBoxLayout(this);
    PageControl1 = make<QTabWidget>(this, "PageControl1");
    root->addWidget(PageControl1, 1);

    const struct { const char* name; QString caption; void (TfrmOption::*build)(QWidget*); } tabs[] = {
        {"TabSheet1", QStringLiteral("基本設定"), &TfrmOption::buildBasicTab},
        {"TabSheet2", QStringLiteral("ログ保存"), &TfrmOption::buildLogTab},
        {"TabSheet3", QStringLiteral("NG時処理"), &TfrmOption::buildNGTab},
        {"TabSheet4", QStringLiteral("OK時処理"), &TfrmOption::buildOKTab},
    };
    for (const auto& tab : tabs) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(tab.name));
        (this->*tab.build)(page);
        PageControl1->addTab(page, tab.caption);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOK = make<QPushButton>(this, "btnOK", QStringLiteral("ＯＫ"));
    btnOK->setDefault(true);
    btnCancel = make<QPushButton>(this, "btnCancel", texts::Cancel());
    btnCancel->setAutoDefault(false);
    const int buttonWidth = qMax(btnOK->sizeHint().width(), btnCancel->sizeHint().width());
    btnOK->setMinimumWidth(qMax(buttonWidth, 75));
    btnCancel->setMinimumWidth(qMax(buttonWidth, 75));
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    root->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &TfrmOption::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmOption::btnCancelClick);
    connect(btnLogDirectory, &QPushButton::clicked, this, &TfrmOption::btnLogDirectoryClick);
    connect(ng_->btnWavOpen, &QPushButton::clicked, this, &TfrmOption::btnWavOpenClick);
    connect(ok_->btnWavOpen, &QPushButton::clicked, this, &TfrmOption::btnOKWavOpenClick);
    connect(ng_->btnProgramOpen, &QPushButton::clicked, this, &TfrmOption::btnCommandOpenClick);
    connect(ok_->btnProgramOpen, &QPushButton::clicked, this, &TfrmOption::btnOKCommandOpenClick);
    connect(ng_->btnPlaySound, &QPushButton::clicked, this, &TfrmOption::btnPlaySoundClick);
    connect(ok_->btnPlaySound, &QPushButton::clicked, this, &TfrmOption::btnOKPlaySoundClick);

    chooseFile_ = [](QWidget* owner, const QString& filter, const QString& startDir) {
        return QFileDialog::getOpenFileName(owner, QString(), startDir, filter);
    };
    chooseFolder_ = [](QWidget* owner, const QString& startDir) {
        TKtBrowseFolderDlg browse;
        browse.Caption = texts::BrowseFolder();
        browse.TextLine1 = QStringLiteral("ログの保存先フォルダを選択してください。");
        browse.ShowSelectDir = true;
        browse.Directory = startDir;
        return browse.Execute(owner) ? browse.Directory : QString();
    };

    FormCreate();
    connectRules();
    fitToContents();
}

TfrmOption::~TfrmOption() = default;

void TfrmOption::connectRules()
{
    // toggled covers both clicks and programmatic changes; for the radio
    // buttons it fires on both the one switched on and the one switched off,
    // and the rule is idempotent.
    connect(chkAutoDelete, &QCheckBox::toggled, this, &TfrmOption::chkAutoDeleteClick);
    connect(chkLogTrace, &QCheckBox::toggled, this, &TfrmOption::chkLogTraceClick);
    connect(chkFixedLogFileName, &QRadioButton::toggled, this, &TfrmOption::chkFixedLogFileNameClick);
    connect(chkUseLogFileDate, &QRadioButton::toggled, this, &TfrmOption::chkFixedLogFileNameClick);
    for (AlertActionGroup* g : {ng_, ok_}) {
        connect(g->chkWav, &QCheckBox::toggled, g, &AlertActionGroup::wavClick);
        connect(g->chkCommand, &QCheckBox::toggled, g, &AlertActionGroup::commandClick);
    }
    connect(chkCheckRTT, &QCheckBox::toggled, this, &TfrmOption::chkCheckRTTClick);
    connect(chkOKCheckBefore, &QCheckBox::toggled, this, &TfrmOption::chkOKCheckBeforeClick);
    connect(chkNGPassCount, &QCheckBox::toggled, this, &TfrmOption::chkNGPassCountClick);
    connect(chkNGCheckAddress, &QCheckBox::toggled, this, &TfrmOption::chkNGCheckAddressClick);
    connect(chkNGCheckBefore, &QCheckBox::toggled, this, &TfrmOption::chkNGCheckAddressClick);
    connect(chkContinuationNGCount, &QCheckBox::toggled, this, &TfrmOption::chkContinuationNGCountClick);
    connect(edtLogFileNameHead, &QLineEdit::textChanged, this, &TfrmOption::edtLogFileNameHeadChange);
    connect(edtLogFileNameExt, &QLineEdit::textChanged, this, &TfrmOption::edtLogFileNameHeadChange);
}

void TfrmOption::FormCreate()
{
    const Preferences& p = prefs_;
    chkHideOnTaskBar->setChecked(p.HideOnTaskBar);
    chkSaveConfig->setChecked(p.SaveConfig);
    chkSaveAsCsv->setChecked(p.SaveAsCsv);
    chkAutoDelete->setChecked(p.AutoDelete);
    edtAutoDeleteCount->setValue(p.AutoDeleteCount);
    chkBlinkTrayIcon->setChecked(p.BlinkTrayIcon);
    chkDontFlagment->setChecked(p.DontFlagment);
    chkPreferIPv6->setChecked(p.PreferIPv6);
    edtMaxEchoesInFlight->setValue(p.MaxEchoesInFlight);
    chkHistoryEnabled->setChecked(p.HistoryEnabled);
    edtHistoryRawDays->setValue(p.HistoryRawDays);
    edtHistorySummaryDays->setValue(p.HistorySummaryDays);
    edtHistoryRawDays->setEnabled(p.HistoryEnabled);
    edtHistorySummaryDays->setEnabled(p.HistoryEnabled);
    edtMetricsListen->setText(p.MetricsListen);

    chkLogTrace->setChecked(p.LogTrace);
    edtLogDirectory->setText(p.LogDirectory);
    chkUseLogFileDate->setChecked(p.UseLogFileDate);
    chkFixedLogFileName->setChecked(!p.UseLogFileDate);
    edtFixedLogFileName->setText(p.FixedLogFileName);
    edtLogFileNameHead->setText(p.LogFileNameHead);
    edtLogFileNameExt->setText(p.LogFileNameExt);

    chkNGChangeIcon->setChecked(p.NGChangeIcon);
    chkNGPopup->setChecked(p.NGPopup);
    ng_->load({p.NGSound, p.NGSoundFile, p.NGCommandExec, p.NGCommand, p.NGCommandOption, p.NGCommandWorkDir});
    chkCheckRTT->setChecked(p.CheckRTT);
    edtCheckRTT->setValue(p.CheckRTTValue);
    chkNGCheckAddress->setChecked(p.NGCheckAddress);
    chkNGCheckBefore->setChecked(p.NGCheckBefore);
    chkNGPassCount->setChecked(p.UseNGPassCount);
    edtNGPassCount->setValue(p.NGPassCount);
    chkContinuationNGCount->setChecked(p.ContinuationNGCount);
    chkResetNGFlag->setChecked(p.ResetNGFlag);

    ok_->load({p.OKSound, p.OKSoundFile, p.OKCommandExec, p.OKCommand, p.OKCommandOption, p.OKCommandWorkDir});
    chkOKPopup->setChecked(p.OKPopup);
    chkOKCheckBefore->setChecked(p.OKCheckBefore);
    chkResetOKFlag->setChecked(p.ResetOKFlag);

    // Enabling and the sample to match the loaded state. The focus moves of
    // the rules come to nothing here: the dialog is not shown yet.
    chkFixedLogFileNameClick();
    chkAutoDeleteClick();
    edtLogFileNameHeadChange();
    chkLogTraceClick();
    ng_->wavClick();
    ng_->commandClick();
    chkNGCheckAddressClick();
    chkCheckRTTClick();
    ok_->wavClick();
    ok_->commandClick();
    chkOKCheckBeforeClick();
    chkNGPassCountClick();
    chkContinuationNGCountClick();

    PageControl1->setCurrentIndex(0);
}

void TfrmOption::fitToContents()
{
    // The design size, or larger where the texts need it; then fixed.
    const QSize need = sizeHint().expandedTo(minimumSizeHint());
    setFixedSize(need.expandedTo(QSize(DesignWidth, DesignHeight)));
}

// What a spin field stores: its value brought into its range. The field
// limits its text only when it loses the focus, which OK by the Enter key
// never makes it do.
static int spinValue(const TSpinEdit* s)
{
    return s->CheckValue(s->Value());
}

void TfrmOption::btnOKClick()
{
    // An address the endpoint could not listen on keeps the dialog open.
    const QString metrics = edtMetricsListen->text().trimmed();
    QString why;
    if (!metrics.isEmpty() && !parseListenAddress(metrics, &why)) {
        lblMetricsError->setText(why);
        lblMetricsError->show();
        PageControl1->setCurrentIndex(0);
        edtMetricsListen->setFocus(Qt::OtherFocusReason);
        return;
    }

    Preferences& p = prefs_;
    p.MetricsListen = metrics;
    p.HideOnTaskBar = chkHideOnTaskBar->isChecked();
    p.SaveConfig = chkSaveConfig->isChecked();
    p.SaveAsCsv = chkSaveAsCsv->isChecked();
    p.AutoDelete = chkAutoDelete->isChecked();
    p.AutoDeleteCount = spinValue(edtAutoDeleteCount);
    p.BlinkTrayIcon = chkBlinkTrayIcon->isChecked();
    p.DontFlagment = chkDontFlagment->isChecked();
    p.PreferIPv6 = chkPreferIPv6->isChecked();
    p.MaxEchoesInFlight = spinValue(edtMaxEchoesInFlight);
    p.HistoryEnabled = chkHistoryEnabled->isChecked();
    p.HistoryRawDays = spinValue(edtHistoryRawDays);
    p.HistorySummaryDays = spinValue(edtHistorySummaryDays);

    p.LogTrace = chkLogTrace->isChecked();
    p.LogDirectory = edtLogDirectory->text();
    p.UseLogFileDate = chkUseLogFileDate->isChecked();
    p.FixedLogFileName = edtFixedLogFileName->text();
    p.LogFileNameHead = edtLogFileNameHead->text();
    p.LogFileNameExt = edtLogFileNameExt->text();

    p.NGChangeIcon = chkNGChangeIcon->isChecked();
    p.NGPopup = chkNGPopup->isChecked();
    const AlertActionGroup::Values ng = ng_->values();
    p.NGSound = ng.sound;
    p.NGSoundFile = ng.soundFile;
    p.NGCommandExec = ng.exec;
    p.NGCommand = ng.program;
    p.NGCommandOption = ng.option;
    p.NGCommandWorkDir = ng.workDir;
    p.CheckRTT = chkCheckRTT->isChecked();
    p.CheckRTTValue = spinValue(edtCheckRTT);
    p.NGCheckAddress = chkNGCheckAddress->isChecked();
    p.NGCheckBefore = chkNGCheckBefore->isChecked();
    p.UseNGPassCount = chkNGPassCount->isChecked();
    p.NGPassCount = spinValue(edtNGPassCount);
    p.ContinuationNGCount = chkContinuationNGCount->isChecked();
    p.ResetNGFlag = chkResetNGFlag->isChecked();

    const AlertActionGroup::Values ok = ok_->values();
    p.OKSound = ok.sound;
    p.OKSoundFile = ok.soundFile;
    p.OKPopup = chkOKPopup->isChecked();
    p.OKCommandExec = ok.exec;
    p.OKCommand = ok.program;
    p.OKCommandOption = ok.option;
    p.OKCommandWorkDir = ok.workDir;
    p.OKCheckBefore = chkOKCheckBefore->isChecked();
    p.ResetOKFlag = chkResetOKFlag->isChecked();
    accept();
}

void TfrmOption::btnCancelClick()
{
    reject();
}

bool TfrmOption::Execute(QWidget* parent, Preferences& prefs)
{
    return Execute(parent, prefs, Clock::system());
}

bool TfrmOption::Execute(QWidget* parent, Preferences& prefs, Clock& clock)
{
    TfrmOption dlg(prefs, clock, parent);
    // Centred on the screen, not on the owner.
    if (QScreen* screen = parent ? parent->screen() : dlg.screen()) {
        QRect r(QPoint(), dlg.size());
        r.moveCenter(screen->availableGeometry().center());
        dlg.move(r.topLeft());
    }
    return dlg.exec() == QDialog::Accepted;
}

// ---- enabling rules --------------------------------------------------------

void TfrmOption::chkAutoDeleteClick()
{
    edtAutoDeleteCount->setEnabled(chkAutoDelete->isChecked());
}

void TfrmOption::chkLogTraceClick()
{
    const bool on = chkLogTrace->isChecked();
    edtLogDirectory->setEnabled(on);
    btnLogDirectory->setEnabled(on);
    chkFixedLogFileName->setEnabled(on);
    chkUseLogFileDate->setEnabled(on);
    chkFixedLogFileNameClick();
}

void TfrmOption::chkFixedLogFileNameClick()
{
    if (!chkLogTrace->isChecked()) {
        edtFixedLogFileName->setEnabled(false);
        edtLogFileNameHead->setEnabled(false);
        edtLogFileNameExt->setEnabled(false);
    } else {
        const bool fixed = chkFixedLogFileName->isChecked();
        edtFixedLogFileName->setEnabled(fixed);
        edtLogFileNameHead->setEnabled(!fixed);
        edtLogFileNameExt->setEnabled(!fixed);
    }
}

void TfrmOption::chkCheckRTTClick()
{
    edtCheckRTT->setEnabled(chkCheckRTT->isChecked());
}

void TfrmOption::chkOKCheckBeforeClick()
{
    chkResetOKFlag->setEnabled(chkOKCheckBefore->isChecked());
}

void TfrmOption::chkNGPassCountClick()
{
    const bool on = chkNGPassCount->isChecked();
    edtNGPassCount->setEnabled(on);
    chkContinuationNGCount->setEnabled(on);
    NGSuppressionRule();
}

void TfrmOption::chkNGCheckAddressClick()
{
    NGSuppressionRule();
}

void TfrmOption::chkContinuationNGCountClick()
{
    NGSuppressionRule();
}

void TfrmOption::NGSuppressionRule()
{
    // "Not again while the previous was NG" makes no sense while an address
    // is notified only once, or while only consecutive NGs are counted.
    chkNGCheckBefore->setEnabled(
        !((chkContinuationNGCount->isEnabled() && chkContinuationNGCount->isChecked()) || chkNGCheckAddress->isChecked()));
    // Renewing the suppression per periodic run only matters while some
    // suppression is in force.
    chkResetNGFlag->setEnabled((chkNGCheckBefore->isEnabled() && chkNGCheckBefore->isChecked())
                               || (chkNGCheckAddress->isEnabled() && chkNGCheckAddress->isChecked())
                               || chkNGPassCount->isChecked());
}

void TfrmOption::edtLogFileNameHeadChange()
{
    lblSample->setText(QStringLiteral("例：") + edtLogFileNameHead->text()
                       + clock_.localNow().date().toString(QStringLiteral("yyMMdd")) + QLatin1Char('.')
                       + edtLogFileNameExt->text());
}

// ---- buttons ---------------------------------------------------------------

QString TfrmOption::wavFilter()
{
    return QStringLiteral("WAV ファイル(*.wav);;全てのファイル(*)");
}

QString TfrmOption::programFilter()
{
    // Programs and scripts on this platform rarely carry an extension, so
    // the program filter shows every file as well.
    return QStringLiteral("実行ファイル(*.com *.exe *.bat *.sh *);;全てのファイル(*)");
}

void TfrmOption::btnLogDirectoryClick()
{
    if (!chooseFolder_)
        return;
    const QString chosen = chooseFolder_(this, lastFolder_);
    if (chosen.isEmpty())
        return;
    lastFolder_ = chosen;
    edtLogDirectory->setText(chosen);
}

void TfrmOption::chooseSoundFile(QLineEdit* target)
{
    if (!chooseFile_)
        return;
    const QString path = chooseFile_(this, wavFilter(), lastFileDir_);
    if (path.isEmpty())
        return;
    lastFileDir_ = QFileInfo(path).absolutePath();
    target->setText(path);
}

void TfrmOption::chooseProgram(QLineEdit* program, QLineEdit* workDir)
{
    if (!chooseFile_)
        return;
    const QString path = chooseFile_(this, programFilter(), lastFileDir_);
    if (path.isEmpty())
        return;
    lastFileDir_ = QFileInfo(path).absolutePath();
    program->setText(path);
    // The folder part, separator included.
    workDir->setText(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
}

void TfrmOption::btnWavOpenClick() { chooseSoundFile(ng_->edtWavFile); }
void TfrmOption::btnOKWavOpenClick() { chooseSoundFile(ok_->edtWavFile); }
void TfrmOption::btnCommandOpenClick() { chooseProgram(ng_->edtProgram, ng_->edtWorkDir); }
void TfrmOption::btnOKCommandOpenClick() { chooseProgram(ok_->edtProgram, ok_->edtWorkDir); }

void TfrmOption::playSound(QLineEdit* file)
{
    SoundPlayer& player = player_ ? *player_ : SoundPlayer::instance();
    player.play(file->text());
}

void TfrmOption::btnPlaySoundClick() { playSound(ng_->edtWavFile); }
void TfrmOption::btnOKPlaySoundClick() { playSound(ok_->edtWavFile); }

} // namespace tarvok
