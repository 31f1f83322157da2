// The four pages of the options dialog TfrmOption: 基本設定, ログ保存, NG時処理
// and OK時処理, their controls named as in the dialog's design.

#include "ui/dialogs/AlertActionGroup.h"
#include "ui/dialogs/DialogControls.h"
#include "ui/dialogs/frmOption.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include <climits>

namespace tarvok {

using namespace dialog;

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
    chkPreferIPv6 = checkBox(page, "chkPreferIPv6", QStringLiteral("IPv4 と IPv6 の両方を持つホスト名は IPv6 で送る"));
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
    v->addWidget(chkPreferIPv6);
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

    ng_ = new AlertActionGroup(page, {"chkNGWav", "edtNGWavFile", "btnWavOpen", "btnPlaySound", "chkNGCommand",
                                      {"zLabel1", "zLabel2", "zLabel3"}, "edtNGCommand", "btnCommandOpen",
                                      "edtNGCommandOption", "edtNGCommandWorkDir"});
    v->addLayout(ng_->soundRow);
    v->addWidget(ng_->chkCommand);
    v->addLayout(ng_->programGrid);

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
    ok_ = new AlertActionGroup(page, {"chkOKWav", "edtOKWavFile", "btnOKWavOpen", "btnOKPlaySound", "chkOKCommand",
                                      {"zLabel4", "zLabel5", "zLabel6"}, "edtOKCommand", "btnOKCommandOpen",
                                      "edtOKCommandOption", "edtOKCommandWorkDir"});
    v->addLayout(ok_->soundRow);

    chkOKPopup = checkBox(page, "chkOKPopup", QStringLiteral("ポップアップメッセージを表示"));
    v->addWidget(chkOKPopup);
    QWidget::setTabOrder(ok_->btnPlaySound, chkOKPopup); // between the sound and the program, as shown

    v->addWidget(ok_->chkCommand);
    v->addLayout(ok_->programGrid);

    chkOKCheckBefore = checkBox(page, "chkOKCheckBefore", QStringLiteral("前回もOKだった場合は通知しない"));
    chkResetOKFlag = checkBox(page, "chkResetOKFlag", QStringLiteral("「通知しない」設定は定期実行ごとに有効"));
    v->addWidget(chkOKCheckBefore);
    v->addWidget(chkResetOKFlag);
    v->addStretch(1);
}

} // namespace tarvok
