#include "ui/dialogs/frmOption.h"

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

template <class W, class... Args>
W* make(QWidget* parent, const char* name, Args&&... args)
{
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption)
{
    return make<QCheckBox>(parent, name, caption);
}

QLabel* label(QWidget* parent, const char* name, const QString& caption)
{
    return make<QLabel>(parent, name, caption);
}

QPushButton* browseButton(QWidget* parent, const char* name)
{
    auto* b = make<QPushButton>(parent, name, QStringLiteral("..."));
    b->setAutoDefault(false);
    const int w = b->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16;
    b->setFixedWidth(qMax(w, 28));
    return b;
}

QPushButton* playButton(QWidget* parent, const char* name)
{
    auto* b = make<QPushButton>(parent, name);
    b->setIcon(b->style()->standardIcon(QStyle::SP_MediaVolume));
    b->setToolTip(QStringLiteral("再生"));
    b->setAutoDefault(false);
    b->setFixedWidth(qMax(b->sizeHint().height(), 28));
    return b;
}

// A text field that takes the room its row leaves, at least chars characters
// wide, without widening the dialog by its default width.
QLineEdit* edit(QWidget* parent, const char* name, int chars = 12)
{
    auto* e = make<QLineEdit>(parent, name);
    e->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QLatin1Char('x')) * chars + 12);
    return e;
}

TSpinEdit* spin(QWidget* parent, const char* name, int minValue, int maxValue)
{
    auto* s = make<TSpinEdit>(parent, name);
    s->setRange(minValue, maxValue);
    return s;
}

// Indentation of controls that belong to the check box above them.
int indent(QWidget* w)
{
    return w->style()->pixelMetric(QStyle::PM_IndicatorWidth) + w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
}

} // namespace

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
    btnCancel = make<QPushButton>(this, "btnCancel", QStringLiteral("キャンセル"));
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
    connect(btnWavOpen, &QPushButton::clicked, this, &TfrmOption::btnWavOpenClick);
    connect(btnOKWavOpen, &QPushButton::clicked, this, &TfrmOption::btnOKWavOpenClick);
    connect(btnCommandOpen, &QPushButton::clicked, this, &TfrmOption::btnCommandOpenClick);
    connect(btnOKCommandOpen, &QPushButton::clicked, this, &TfrmOption::btnOKCommandOpenClick);
    connect(btnPlaySound, &QPushButton::clicked, this, &TfrmOption::btnPlaySoundClick);
    connect(btnOKPlaySound, &QPushButton::clicked, this, &TfrmOption::btnOKPlaySoundClick);

    chooseFile_ = [](QWidget* owner, const QString& filter, const QString& startDir) {
        return QFileDialog::getOpenFileName(owner, QString(), startDir, filter);
    };
    chooseFolder_ = [](QWidget* owner, const QString& startDir) {
        TKtBrowseFolderDlg browse;
        browse.Caption = QStringLiteral("フォルダの参照");
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

void TfrmOption::buildBasicTab(QWidget* page)
{
    auto* v = new QVBoxLayout(page);
    chkHideOnTaskBar = checkBox(page, "chkHideOnTaskBar", QStringLiteral("最小化時、タスクバーに非表示"));
    chkSaveConfig = checkBox(page, "chkSaveConfig", QStringLiteral("終了時に対象ファイルの環境を保存する"));
    chkSaveAsCsv = checkBox(page, "chkSaveAsCsv", QStringLiteral("Ping 結果の保存はＣＳＶ形式"));
    chkAutoDelete = checkBox(page, "chkAutoDelete", QStringLiteral("Ping 結果の自動削除"));
    edtAutoDeleteCount = spin(page, "edtAutoDeleteCount", 1, INT_MAX);
    chkBlinkTrayIcon = checkBox(page, "chkBlinkTrayIcon", QStringLiteral("Ping 実行中にトレイアイコンを点滅させる"));
    chkDontFlagment = checkBox(page, "chkDontFlagment", QStringLiteral("パケットのフラグメントを禁止する"));
    edtMaxEchoesInFlight = spin(page, "edtMaxEchoesInFlight", 1, 1024);

    v->addWidget(chkHideOnTaskBar);
    v->addWidget(chkSaveConfig);
    v->addWidget(chkSaveAsCsv);
    v->addWidget(chkAutoDelete);
    auto* row = new QHBoxLayout;
    row->addSpacing(indent(chkAutoDelete));
    edtAutoDeleteCount->setMinimumWidth(edtAutoDeleteCount->fontMetrics().horizontalAdvance(QStringLiteral("2147483647")) + 40);
    row->addWidget(edtAutoDeleteCount);
    row->addWidget(label(page, "lblAutoDeleteCount", QStringLiteral("件を超えた場合、古い結果から削除する")));
    row->addStretch(1);
    v->addLayout(row);
    v->addWidget(chkBlinkTrayIcon);
    v->addWidget(chkDontFlagment);
    auto* inFlightRow = new QHBoxLayout;
    inFlightRow->addWidget(
        label(page, "lblMaxEchoesInFlight", QStringLiteral("同時に応答を待つ Ping の最大数：")));
    edtMaxEchoesInFlight->setMinimumWidth(
        edtMaxEchoesInFlight->fontMetrics().horizontalAdvance(QStringLiteral("99999")) + 40);
    inFlightRow->addWidget(edtMaxEchoesInFlight);
    inFlightRow->addStretch(1);
    v->addLayout(inFlightRow);

    // The lasting history.
    chkHistoryEnabled = checkBox(page, "chkHistoryEnabled", QStringLiteral("Ping の履歴を記録する"));
    edtHistoryRawDays = spin(page, "edtHistoryRawDays", 1, 3650);
    edtHistorySummaryDays = spin(page, "edtHistorySummaryDays", 1, 36500);
    v->addWidget(chkHistoryEnabled);
    auto* historyRow = new QHBoxLayout;
    historyRow->addSpacing(indent(chkHistoryEnabled));
    historyRow->addWidget(label(page, "lblHistoryRawDays", QStringLiteral("個々の結果：")));
    historyRow->addWidget(edtHistoryRawDays);
    historyRow->addWidget(label(page, "lblHistorySummaryDays", QStringLiteral("日、集計と障害履歴：")));
    historyRow->addWidget(edtHistorySummaryDays);
    historyRow->addWidget(label(page, "lblHistoryDays", QStringLiteral("日保存する")));
    historyRow->addStretch(1);
    v->addLayout(historyRow);
    connect(chkHistoryEnabled, &QCheckBox::toggled, this, [this](bool on) {
        edtHistoryRawDays->setEnabled(on);
        edtHistorySummaryDays->setEnabled(on);
    });

    // The metrics endpoint for Prometheus: empty is off.
    auto* metricsRow = new QHBoxLayout;
    metricsRow->addWidget(label(page, "lblMetricsListen", QStringLiteral("メトリクス待ち受け：")));
    edtMetricsListen = edit(page, "edtMetricsListen", 16);
    edtMetricsListen->setPlaceholderText(QStringLiteral("空欄で無効 (例: 9464)"));
    edtMetricsListen->setToolTip(QStringLiteral("Prometheus 形式のメトリクスを http://アドレス:ポート/metrics で公開します。\n"
                                                "ポート番号だけなら 127.0.0.1 で待ち受けます (例: 9464、0.0.0.0:9464、[::1]:9464)。"));
    metricsRow->addWidget(edtMetricsListen);
    metricsRow->addStretch(1);
    v->addLayout(metricsRow);
    lblMetricsError = label(page, "lblMetricsError", QString());
    lblMetricsError->setWordWrap(true);
    lblMetricsError->setStyleSheet(QStringLiteral("color: #c00000;"));
    lblMetricsError->hide();
    v->addWidget(lblMetricsError);
    v->addStretch(1);
}

void TfrmOption::buildLogTab(QWidget* page)
{
    auto* v = new QVBoxLayout(page);
    chkLogTrace = checkBox(page, "chkLogTrace", QStringLiteral("Ping のログを自動保存する"));
    v->addWidget(chkLogTrace);

    auto* dirRow = new QHBoxLayout;
    dirRow->addSpacing(indent(chkLogTrace));
    dirRow->addWidget(label(page, "lblLogDirectory", QStringLiteral("保存先：")));
    edtLogDirectory = edit(page, "edtLogDirectory");
    dirRow->addWidget(edtLogDirectory, 1);
    btnLogDirectory = browseButton(page, "btnLogDirectory");
    dirRow->addWidget(btnLogDirectory);
    v->addLayout(dirRow);

    auto* group = make<QGroupBox>(page, "grpLogFileName", QStringLiteral("ログファイル名"));
    auto* g = new QGridLayout(group);
    chkFixedLogFileName = make<QRadioButton>(group, "chkFixedLogFileName", QStringLiteral("固定ファイル名"));
    edtFixedLogFileName = edit(group, "edtFixedLogFileName");
    chkUseLogFileDate = make<QRadioButton>(group, "chkUseLogFileDate", QStringLiteral("年月日を付ける"));
    lblSample = make<QLabel>(group, "lblSample");
    edtLogFileNameHead = edit(group, "edtLogFileNameHead", 6);
    edtLogFileNameHead->setText(QStringLiteral("TK"));
    edtLogFileNameExt = edit(group, "edtLogFileNameExt", 6);
    edtLogFileNameExt->setText(QStringLiteral("LOG"));

    g->addWidget(chkFixedLogFileName, 0, 0);
    g->addWidget(edtFixedLogFileName, 0, 1);
    g->addWidget(chkUseLogFileDate, 1, 0);
    g->addWidget(lblSample, 1, 1);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(label(group, "lblLogFileNameHead", QStringLiteral("接頭語：")));
    nameRow->addWidget(edtLogFileNameHead, 1);
    nameRow->addSpacing(8);
    nameRow->addWidget(label(group, "lblLogFileNameExt", QStringLiteral("拡張子：")));
    nameRow->addWidget(edtLogFileNameExt, 1);
    g->addLayout(nameRow, 2, 1);
    g->setColumnStretch(1, 1);
    v->addWidget(group);
    v->addStretch(1);
}

void TfrmOption::buildNGTab(QWidget* page)
{
    auto* v = new QVBoxLayout(page);
    v->setSpacing(4);
    chkNGChangeIcon = checkBox(page, "chkNGChangeIcon", QStringLiteral("トレイアイコンを変化させる"));
    chkNGPopup = checkBox(page, "chkNGPopup", QStringLiteral("ポップアップメッセージを表示"));
    v->addWidget(chkNGChangeIcon);
    v->addWidget(chkNGPopup);

    auto* wavRow = new QHBoxLayout;
    chkNGWav = checkBox(page, "chkNGWav", QStringLiteral("音を鳴らす"));
    edtNGWavFile = edit(page, "edtNGWavFile");
    btnWavOpen = browseButton(page, "btnWavOpen");
    btnPlaySound = playButton(page, "btnPlaySound");
    wavRow->addWidget(chkNGWav);
    wavRow->addWidget(edtNGWavFile, 1);
    wavRow->addWidget(btnWavOpen);
    wavRow->addWidget(btnPlaySound);
    v->addLayout(wavRow);

    chkNGCommand = checkBox(page, "chkNGCommand", QStringLiteral("外部プログラムを起動"));
    v->addWidget(chkNGCommand);
    auto* g = new QGridLayout;
    g->setColumnMinimumWidth(0, indent(chkNGCommand));
    zLabel1 = label(page, "zLabel1", QStringLiteral("プログラム："));
    zLabel2 = label(page, "zLabel2", QStringLiteral("オプション："));
    zLabel3 = label(page, "zLabel3", QStringLiteral("作業ディレクトリ："));
    edtNGCommand = edit(page, "edtNGCommand");
    btnCommandOpen = browseButton(page, "btnCommandOpen");
    edtNGCommandOption = edit(page, "edtNGCommandOption");
    edtNGCommandWorkDir = edit(page, "edtNGCommandWorkDir");
    g->addWidget(zLabel1, 0, 1);
    g->addWidget(edtNGCommand, 0, 2);
    g->addWidget(btnCommandOpen, 0, 3);
    g->addWidget(zLabel2, 1, 1);
    g->addWidget(edtNGCommandOption, 1, 2);
    g->addWidget(zLabel3, 2, 1);
    g->addWidget(edtNGCommandWorkDir, 2, 2);
    g->setColumnStretch(2, 1);
    v->addLayout(g);

    auto* rttRow = new QHBoxLayout;
    chkCheckRTT = checkBox(page, "chkCheckRTT", QStringLiteral("レスポンス遅延時にNG処理を実行する"));
    edtCheckRTT = spin(page, "edtCheckRTT", 1, INT_MAX);
    edtCheckRTT->setMinimumWidth(edtCheckRTT->fontMetrics().horizontalAdvance(QStringLiteral("2147483647")) + 40);
    rttRow->addWidget(chkCheckRTT);
    rttRow->addWidget(edtCheckRTT);
    rttRow->addWidget(label(page, "lblCheckRTT", QStringLiteral("ms以上")));
    rttRow->addStretch(1);
    v->addLayout(rttRow);

    chkNGCheckAddress = checkBox(page, "chkNGCheckAddress", QStringLiteral("一度通知したアドレスは２回目以降通知しない"));
    chkNGCheckBefore = checkBox(page, "chkNGCheckBefore", QStringLiteral("前回もNGだった場合は通知しない"));
    chkNGPassCount = checkBox(page, "chkNGPassCount", QStringLiteral("NGが指定回数に達するまで、通知しない"));
    v->addWidget(chkNGCheckAddress);
    v->addWidget(chkNGCheckBefore);
    v->addWidget(chkNGPassCount);

    auto* passRow = new QHBoxLayout;
    passRow->addSpacing(indent(chkNGPassCount));
    passRow->addWidget(label(page, "lblNGPassCount", QStringLiteral("回数：")));
    edtNGPassCount = spin(page, "edtNGPassCount", 1, 999);
    edtNGPassCount->setMinimumWidth(edtNGPassCount->fontMetrics().horizontalAdvance(QStringLiteral("9999")) + 40);
    passRow->addWidget(edtNGPassCount);
    passRow->addSpacing(8);
    chkContinuationNGCount = checkBox(page, "chkContinuationNGCount", QStringLiteral("連続したＮＧのみカウントする"));
    passRow->addWidget(chkContinuationNGCount);
    passRow->addStretch(1);
    v->addLayout(passRow);

    chkResetNGFlag = checkBox(page, "chkResetNGFlag", QStringLiteral("「通知しない」設定は定期実行ごとに有効"));
    v->addWidget(chkResetNGFlag);
    v->addStretch(1);
}

void TfrmOption::buildOKTab(QWidget* page)
{
    auto* v = new QVBoxLayout(page);
    v->setSpacing(4);
    auto* wavRow = new QHBoxLayout;
    chkOKWav = checkBox(page, "chkOKWav", QStringLiteral("音を鳴らす"));
    edtOKWavFile = edit(page, "edtOKWavFile");
    btnOKWavOpen = browseButton(page, "btnOKWavOpen");
    btnOKPlaySound = playButton(page, "btnOKPlaySound");
    wavRow->addWidget(chkOKWav);
    wavRow->addWidget(edtOKWavFile, 1);
    wavRow->addWidget(btnOKWavOpen);
    wavRow->addWidget(btnOKPlaySound);
    v->addLayout(wavRow);

    chkOKPopup = checkBox(page, "chkOKPopup", QStringLiteral("ポップアップメッセージを表示"));
    v->addWidget(chkOKPopup);

    chkOKCommand = checkBox(page, "chkOKCommand", QStringLiteral("外部プログラムを起動"));
    v->addWidget(chkOKCommand);
    auto* g = new QGridLayout;
    g->setColumnMinimumWidth(0, indent(chkOKCommand));
    zLabel4 = label(page, "zLabel4", QStringLiteral("プログラム："));
    zLabel5 = label(page, "zLabel5", QStringLiteral("オプション："));
    zLabel6 = label(page, "zLabel6", QStringLiteral("作業ディレクトリ："));
    edtOKCommand = edit(page, "edtOKCommand");
    btnOKCommandOpen = browseButton(page, "btnOKCommandOpen");
    edtOKCommandOption = edit(page, "edtOKCommandOption");
    edtOKCommandWorkDir = edit(page, "edtOKCommandWorkDir");
    g->addWidget(zLabel4, 0, 1);
    g->addWidget(edtOKCommand, 0, 2);
    g->addWidget(btnOKCommandOpen, 0, 3);
    g->addWidget(zLabel5, 1, 1);
    g->addWidget(edtOKCommandOption, 1, 2);
    g->addWidget(zLabel6, 2, 1);
    g->addWidget(edtOKCommandWorkDir, 2, 2);
    g->setColumnStretch(2, 1);
    v->addLayout(g);

    chkOKCheckBefore = checkBox(page, "chkOKCheckBefore", QStringLiteral("前回もOKだった場合は通知しない"));
    chkResetOKFlag = checkBox(page, "chkResetOKFlag", QStringLiteral("「通知しない」設定は定期実行ごとに有効"));
    v->addWidget(chkOKCheckBefore);
    v->addWidget(chkResetOKFlag);
    v->addStretch(1);
}

void TfrmOption::connectRules()
{
    // toggled covers both clicks and programmatic changes; for the radio
    // buttons it fires on both the one switched on and the one switched off,
    // and the rule is idempotent.
    connect(chkAutoDelete, &QCheckBox::toggled, this, &TfrmOption::chkAutoDeleteClick);
    connect(chkLogTrace, &QCheckBox::toggled, this, &TfrmOption::chkLogTraceClick);
    connect(chkFixedLogFileName, &QRadioButton::toggled, this, &TfrmOption::chkFixedLogFileNameClick);
    connect(chkUseLogFileDate, &QRadioButton::toggled, this, &TfrmOption::chkFixedLogFileNameClick);
    connect(chkNGWav, &QCheckBox::toggled, this, &TfrmOption::chkNGWavClick);
    connect(chkNGCommand, &QCheckBox::toggled, this, &TfrmOption::chkNGCommandClick);
    connect(chkCheckRTT, &QCheckBox::toggled, this, &TfrmOption::chkCheckRTTClick);
    connect(chkOKWav, &QCheckBox::toggled, this, &TfrmOption::chkOKWavClick);
    connect(chkOKCommand, &QCheckBox::toggled, this, &TfrmOption::chkOKCommandClick);
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
    chkNGWav->setChecked(p.NGSound);
    edtNGWavFile->setText(p.NGSoundFile);
    chkNGCommand->setChecked(p.NGCommandExec);
    edtNGCommand->setText(p.NGCommand);
    edtNGCommandOption->setText(p.NGCommandOption);
    edtNGCommandWorkDir->setText(p.NGCommandWorkDir);
    chkCheckRTT->setChecked(p.CheckRTT);
    edtCheckRTT->setValue(p.CheckRTTValue);
    chkNGCheckAddress->setChecked(p.NGCheckAddress);
    chkNGCheckBefore->setChecked(p.NGCheckBefore);
    chkNGPassCount->setChecked(p.UseNGPassCount);
    edtNGPassCount->setValue(p.NGPassCount);
    chkContinuationNGCount->setChecked(p.ContinuationNGCount);
    chkResetNGFlag->setChecked(p.ResetNGFlag);

    chkOKWav->setChecked(p.OKSound);
    edtOKWavFile->setText(p.OKSoundFile);
    chkOKPopup->setChecked(p.OKPopup);
    chkOKCommand->setChecked(p.OKCommandExec);
    edtOKCommand->setText(p.OKCommand);
    edtOKCommandOption->setText(p.OKCommandOption);
    edtOKCommandWorkDir->setText(p.OKCommandWorkDir);
    chkOKCheckBefore->setChecked(p.OKCheckBefore);
    chkResetOKFlag->setChecked(p.ResetOKFlag);

    // Enabling and the sample to match the loaded state. The focus moves of
    // the rules come to nothing here: the dialog is not shown yet.
    chkFixedLogFileNameClick();
    chkAutoDeleteClick();
    edtLogFileNameHeadChange();
    chkLogTraceClick();
    chkNGWavClick();
    chkNGCommandClick();
    chkNGCheckAddressClick();
    chkCheckRTTClick();
    chkOKWavClick();
    chkOKCommandClick();
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
    p.NGSound = chkNGWav->isChecked();
    p.NGSoundFile = edtNGWavFile->text();
    p.NGCommandExec = chkNGCommand->isChecked();
    p.NGCommand = edtNGCommand->text();
    p.NGCommandOption = edtNGCommandOption->text();
    p.NGCommandWorkDir = edtNGCommandWorkDir->text();
    p.CheckRTT = chkCheckRTT->isChecked();
    p.CheckRTTValue = spinValue(edtCheckRTT);
    p.NGCheckAddress = chkNGCheckAddress->isChecked();
    p.NGCheckBefore = chkNGCheckBefore->isChecked();
    p.UseNGPassCount = chkNGPassCount->isChecked();
    p.NGPassCount = spinValue(edtNGPassCount);
    p.ContinuationNGCount = chkContinuationNGCount->isChecked();
    p.ResetNGFlag = chkResetNGFlag->isChecked();

    p.OKSound = chkOKWav->isChecked();
    p.OKSoundFile = edtOKWavFile->text();
    p.OKPopup = chkOKPopup->isChecked();
    p.OKCommandExec = chkOKCommand->isChecked();
    p.OKCommand = edtOKCommand->text();
    p.OKCommandOption = edtOKCommandOption->text();
    p.OKCommandWorkDir = edtOKCommandWorkDir->text();
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

void TfrmOption::focusIfPossible(QWidget* w)
{
    // A field on a page not shown, or in a dialog not shown yet, cannot take
    // the focus; the move is then skipped.
    if (w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus)
        w->setFocus(Qt::OtherFocusReason);
}

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

void TfrmOption::chkNGWavClick()
{
    const bool on = chkNGWav->isChecked();
    edtNGWavFile->setEnabled(on);
    btnWavOpen->setEnabled(on);
    btnPlaySound->setEnabled(on);
    if (on)
        focusIfPossible(edtNGWavFile);
}

void TfrmOption::chkNGCommandClick()
{
    const bool on = chkNGCommand->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(zLabel1), static_cast<QWidget*>(zLabel2), static_cast<QWidget*>(zLabel3),
                       static_cast<QWidget*>(edtNGCommand), static_cast<QWidget*>(edtNGCommandOption),
                       static_cast<QWidget*>(edtNGCommandWorkDir), static_cast<QWidget*>(btnCommandOpen)})
        w->setEnabled(on);
    if (on)
        focusIfPossible(edtNGCommand);
}

void TfrmOption::chkCheckRTTClick()
{
    edtCheckRTT->setEnabled(chkCheckRTT->isChecked());
}

void TfrmOption::chkOKWavClick()
{
    const bool on = chkOKWav->isChecked();
    edtOKWavFile->setEnabled(on);
    btnOKWavOpen->setEnabled(on);
    btnOKPlaySound->setEnabled(on);
    if (on)
        focusIfPossible(edtOKWavFile);
}

void TfrmOption::chkOKCommandClick()
{
    const bool on = chkOKCommand->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(zLabel4), static_cast<QWidget*>(zLabel5), static_cast<QWidget*>(zLabel6),
                       static_cast<QWidget*>(edtOKCommand), static_cast<QWidget*>(edtOKCommandOption),
                       static_cast<QWidget*>(edtOKCommandWorkDir), static_cast<QWidget*>(btnOKCommandOpen)})
        w->setEnabled(on);
    if (on)
        focusIfPossible(edtOKCommand);
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

void TfrmOption::btnWavOpenClick() { chooseSoundFile(edtNGWavFile); }
void TfrmOption::btnOKWavOpenClick() { chooseSoundFile(edtOKWavFile); }
void TfrmOption::btnCommandOpenClick() { chooseProgram(edtNGCommand, edtNGCommandWorkDir); }
void TfrmOption::btnOKCommandOpenClick() { chooseProgram(edtOKCommand, edtOKCommandWorkDir); }

void TfrmOption::playSound(QLineEdit* file)
{
    SoundPlayer& player = player_ ? *player_ : SoundPlayer::instance();
    player.play(file->text());
}

void TfrmOption::btnPlaySoundClick() { playSound(edtNGWavFile); }
void TfrmOption::btnOKPlaySoundClick() { playSound(edtOKWavFile); }

} // namespace tarvok
