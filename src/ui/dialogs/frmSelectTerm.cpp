#include "ui/dialogs/frmSelectTerm.h"

#include "base/Texts.h"
#include "targets/TargetList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarvok {

TfrmSelectTerm::AskBox TfrmSelectTerm::standardAskBox()
{
    return [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                        parent);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
}

QString TfrmSelectTerm::noneSelectedQuestion()
{
    return QStringLiteral("対象アドレスが１件も選択されていません。\nすべてのアドレスを対象としますか？");
}

TfrmSelectTerm::TfrmSelectTerm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      askBox_(standardAskBox())
{
    setObjectName(QStringLiteral("frmSelectTerm"));
    setWindowTitle(QStringLiteral("対象選択"));
    setSizeGripEnabled(true);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Label1 = new QLabel(QStringLiteral("Ping, TraceRoute の対象とするアドレスを選択してください。"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    auto* top = new QHBoxLayout(Panel1);
    top->setContentsMargins(8, 6, 8, 6);
    top->addWidget(Label1, 1);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({QStringLiteral("対象"), QStringLiteral("備考")});
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSortingEnabled(false);
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setIconSize(QSize(16, 16));
    // The selection stays visible while the buttons have the focus.
    QPalette pal = ListView1->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    ListView1->setPalette(pal);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, Panel2);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    Button3 = button("Button3", QStringLiteral("全選択(&A)"));
    Button4 = button("Button4", QStringLiteral("全解除(&U)"));
    Button1 = button("Button1", QStringLiteral("OK"));
    Button1->setDefault(true);
    Button2 = button("Button2", texts::Cancel());
    auto* bottom = new QHBoxLayout(Panel2);
    bottom->setContentsMargins(8, 6, 8, 8);
    bottom->addWidget(Button3);
    bottom->addWidget(Button4);
    bottom->addStretch(1);
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);

    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    l->addWidget(Panel1);
    l->addWidget(ListView1, 1);
    l->addWidget(Panel2);

    connect(Button1, &QPushButton::clicked, this, &TfrmSelectTerm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, &TfrmSelectTerm::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TfrmSelectTerm::Button4Click);

    resize(DesignWidth, DesignHeight);
}

TfrmSelectTerm::~TfrmSelectTerm() = default;

void TfrmSelectTerm::Fill(const TargetList& targets)
{
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(targets.count());
    for (int i = 0; i < targets.count(); ++i)
        items << new QTreeWidgetItem(QStringList{targets.addresses().at(i), targets.comments().at(i)});
    ListView1->addTopLevelItems(items);
    SetAllSelected(true);
    ListView1->resizeColumnToContents(0);
    ListView1->resizeColumnToContents(1);
    if (!items.isEmpty())
        ListView1->setCurrentItem(items.first(), 0, QItemSelectionModel::NoUpdate);
}

void TfrmSelectTerm::SetAllSelected(bool value)
{
    if (value)
        ListView1->selectAll();
    else
        ListView1->clearSelection();
}

void TfrmSelectTerm::Button3Click()
{
    SetAllSelected(true);
    ListView1->setFocus(Qt::OtherFocusReason);
}

void TfrmSelectTerm::Button4Click()
{
    SetAllSelected(false);
    ListView1->setFocus(Qt::OtherFocusReason);
}

void TfrmSelectTerm::Button1Click()
{
    if (!ListView1->selectionModel()->hasSelection()) {
        const QMessageBox::StandardButton answer =
            askBox_ ? askBox_(this, QStringLiteral("Tarvok"), noneSelectedQuestion()) : QMessageBox::Cancel;
        if (answer == QMessageBox::Yes)
            SetAllSelected(true);
        else if (answer != QMessageBox::No)
            return; // Cancel, or the box closed: back to the list
    }
    accept();
}

std::vector<bool> TfrmSelectTerm::chosenRows() const
{
    std::vector<bool> chosen(static_cast<size_t>(ListView1->topLevelItemCount()), false);
    for (const QModelIndex& i : ListView1->selectionModel()->selectedRows())
        if (i.row() >= 0 && static_cast<size_t>(i.row()) < chosen.size())
            chosen[static_cast<size_t>(i.row())] = true;
    return chosen;
}

} // namespace tarvok
