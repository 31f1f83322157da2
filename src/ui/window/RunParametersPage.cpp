#include "ui/window/RunParametersPage.h"

#include "ui/widgets/SpinEdit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tarvok {

namespace {

TSpinEdit* newSpin(QWidget* parent, const char* name, int minValue, int maxValue, int value)
{
    auto* s = new TSpinEdit(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(minValue, maxValue);
    s->setValue(value);
    s->setFixedWidth(s->sizeHint().width());
    return s;
}

QLabel* newLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy = nullptr)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    if (buddy)
        l->setBuddy(buddy);
    return l;
}

} // namespace

RunParametersPage::RunParametersPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ScrollBox1Contents"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);

    // Two blocks side by side: columns 0-2 (repetition) and 4-6 (echo and
    // trace options), each of label, field and unit.
    auto row = [grid](int r, QLabel* before, QWidget* field, QLabel* after, int c = 0) {
        if (before)
            grid->addWidget(before, r, c, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(field, r, c + 1, Qt::AlignLeft | Qt::AlignVCenter);
        if (after)
            grid->addWidget(after, r, c + 2, Qt::AlignLeft | Qt::AlignVCenter);
    };

    edtPingCount = newSpin(this, "edtPingCount", 1, 100000, 3);
    row(0, newLabel(this, "lblPingCount", QStringLiteral("繰り返し回数："), edtPingCount), edtPingCount,
        newLabel(this, "lblPingCountUnit", QStringLiteral("回")));
    edtPingWait = newSpin(this, "edtPingWait", 1, 100000, 1000);
    row(1, newLabel(this, "lblPingWait", QStringLiteral("実行間隔："), edtPingWait), edtPingWait,
        newLabel(this, "lblPingWaitUnit", QStringLiteral("ミリ秒")));
    edtBlockSize = newSpin(this, "edtBlockSize", 1, 4096, 64);
    row(2, newLabel(this, "lblBlockSize", QStringLiteral("ブロックサイズ："), edtBlockSize), edtBlockSize,
        newLabel(this, "lblBlockSizeUnit", QStringLiteral("バイト")));

    grpOrder = new QGroupBox(QStringLiteral("繰り返し順序"), this);
    grpOrder->setObjectName(QStringLiteral("grpOrder"));
    auto* orderLayout = new QVBoxLayout(grpOrder);
    chkCycleToTerm = new QRadioButton(QStringLiteral("ソートしない  (A-A-B-B)"), grpOrder);
    chkCycleToTerm->setObjectName(QStringLiteral("chkCycleToTerm"));
    chkCycleToTerm->setChecked(true);
    chkTermToCycle = new QRadioButton(QStringLiteral("端末でソート (A-B-A-B)"), grpOrder);
    chkTermToCycle->setObjectName(QStringLiteral("chkTermToCycle"));
    orderLayout->addWidget(chkCycleToTerm);
    orderLayout->addWidget(chkTermToCycle);
    grid->addWidget(grpOrder, 3, 0, 1, 3);

    chkInterval = new QCheckBox(QStringLiteral("定期的に実行する"), this);
    chkInterval->setObjectName(QStringLiteral("chkInterval"));
    grid->addWidget(chkInterval, 4, 0, 1, 3);
    edtInterval = newSpin(this, "edtInterval", 0, 10000, 5);
    row(5, nullptr, edtInterval, newLabel(this, "lblIntervalUnit", QStringLiteral("分間隔")));

    edtTimeout = newSpin(this, "edtTimeout", 1, 100000, 1000);
    row(0, newLabel(this, "lblTimeout", QStringLiteral("タイムアウト："), edtTimeout), edtTimeout,
        newLabel(this, "lblTimeoutUnit", QStringLiteral("ミリ秒")), 4);
    edtTTL = newSpin(this, "edtTTL", 1, 255, 255);
    row(1, newLabel(this, "lblTTL", QStringLiteral("TTL："), edtTTL), edtTTL, nullptr, 4);

    createTraceGroup();
    grid->addWidget(grpTraceRoute, 2, 4, 2, 3, Qt::AlignTop);

    grid->setColumnMinimumWidth(3, 24);
    grid->setColumnStretch(7, 1);
    grid->setRowStretch(6, 1);

    QWidget* order[] = {edtPingCount, edtPingWait,    edtBlockSize, chkCycleToTerm, chkTermToCycle,
                        chkInterval,  edtInterval,    edtTimeout,   edtTTL,         edtMaxHops,
                        chkResolveHostName};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(edtPingCount, &TSpinEdit::changed, this, &RunParametersPage::edtPingCountChange);
    connect(chkInterval, &QCheckBox::toggled, this, &RunParametersPage::chkIntervalClick);
}

void RunParametersPage::createTraceGroup()
{
    grpTraceRoute = new QGroupBox(QStringLiteral("TraceRoute オプション"), this);
    grpTraceRoute->setObjectName(QStringLiteral("grpTraceRoute"));
    auto* traceLayout = new QGridLayout(grpTraceRoute);
    edtMaxHops = newSpin(this, "edtMaxHops", 1, 255, 20);
    traceLayout->addWidget(newLabel(this, "lblMaxHops", QStringLiteral("最大HOPS："), edtMaxHops), 0, 0,
                           Qt::AlignRight | Qt::AlignVCenter);
    traceLayout->addWidget(edtMaxHops, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);
    traceLayout->setColumnStretch(2, 1);
    chkResolveHostName = new QCheckBox(QStringLiteral("ホスト名の解決を行う"), grpTraceRoute);
    chkResolveHostName->setObjectName(QStringLiteral("chkResolveHostName"));
    chkResolveHostName->setChecked(true);
    traceLayout->addWidget(chkResolveHostName, 1, 0, 1, 3);
}

void RunParametersPage::setIdle(bool idle)
{
    const QList<QWidget*> fields = {edtPingCount, edtPingWait, edtTimeout, edtBlockSize,
                                    edtTTL,       chkInterval, edtMaxHops, chkResolveHostName};
    for (QWidget* w : fields)
        w->setEnabled(idle);
    idle_ = idle;
    if (idle) {
        edtPingCountChange();
        chkIntervalClick();
    } else {
        chkTermToCycle->setEnabled(false);
        chkCycleToTerm->setEnabled(false);
        chkInterval->setEnabled(false);
        edtInterval->setEnabled(false);
    }
}

void RunParametersPage::edtPingCountChange()
{
    // In the running state the order buttons stay disabled, even when the
    // program changes the field.
    if (!idle_)
        return;
    const bool several = edtPingCount->Value() >= 2;
    chkCycleToTerm->setEnabled(several);
    chkTermToCycle->setEnabled(several);
}

void RunParametersPage::chkIntervalClick()
{
    if (!idle_)
        return;
    edtInterval->setEnabled(chkInterval->isChecked());
}

} // namespace tarvok
