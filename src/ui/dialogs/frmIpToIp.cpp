#include "ui/dialogs/frmIpToIp.h"

#include "base/Texts.h"
#include "store/IniFile.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tarvok {

TfrmIpToIp::ErrorBox TfrmIpToIp::standardErrorBox()
{
    return [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), text, QMessageBox::Ok, parent);
        box.exec();
    };
}

TfrmIpToIp::TfrmIpToIp(const QString& iniPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      iniPath_(iniPath), errorBox_(standardErrorBox())
{
    setObjectName(QStringLiteral("frmIpToIp"));
    setWindowTitle(QStringLiteral("範囲指定Ping"));

    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignCenter);
        return l;
    };
    auto edit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setMaxLength(16);
        e->setFixedWidth(std::max(36, fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12));
        return e;
    };

    Label5 = label("Label5", QStringLiteral("ＩＰアドレスの範囲を指定してください。"));
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Edit1 = edit("Edit1");
    Edit2 = edit("Edit2");
    Edit3 = edit("Edit3");
    Edit4 = edit("Edit4");
    Edit5 = edit("Edit5");
    Label1 = label("Label1", QStringLiteral("．"));
    Label2 = label("Label2", QStringLiteral("．"));
    Label3 = label("Label3", QStringLiteral("．"));
    Label4 = label("Label4", QStringLiteral("｜"));

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    Button2 = new QPushButton(texts::Cancel(), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TfrmIpToIp::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    layOut();

    // Fixed size: the design's client area, larger only where the font needs it.
    const QSize hint = sizeHint();
    setFixedSize(std::max(DesignClientWidth, hint.width()), std::max(DesignClientHeight, hint.height()));

    FormCreate();
}

TfrmIpToIp::~TfrmIpToIp() = default;

// The fields in the shape of an address, the buttons below them.
void TfrmIpToIp::layOut()
{
    // 192 ． 168 ． 0 ． 1
    //                    ｜
    //                    10
    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(2);
    fields->setVerticalSpacing(2);
    fields->addWidget(Edit1, 0, 0);
    fields->addWidget(Label1, 0, 1);
    fields->addWidget(Edit2, 0, 2);
    fields->addWidget(Label2, 0, 3);
    fields->addWidget(Edit3, 0, 4);
    fields->addWidget(Label3, 0, 5);
    fields->addWidget(Edit4, 0, 6);
    fields->addWidget(Label4, 1, 6);
    fields->addWidget(Edit5, 2, 6);

    auto* fieldRow = new QHBoxLayout;
    fieldRow->addStretch(1);
    fieldRow->addLayout(fields);
    fieldRow->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(10, 10, 10, 10);
    l->addWidget(Label5);
    l->addSpacing(6);
    l->addLayout(fieldRow);
    l->addStretch(1);
    l->addLayout(buttons);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);
    setTabOrder(Edit4, Edit5);
    setTabOrder(Edit5, Button1);
    setTabOrder(Button1, Button2);
}

void TfrmIpToIp::FormCreate()
{
    IniFile ini;
    // A file that cannot be read gives the defaults.
    (void)ini.load(iniPath_);
    const AddressRange r = loadAddressRange(ini);
    Edit1->setText(QString::number(r.octet1));
    Edit2->setText(QString::number(r.octet2));
    Edit3->setText(QString::number(r.octet3));
    Edit4->setText(QString::number(r.start));
    Edit5->setText(QString::number(r.end));
    // The first field takes the focus with its text selected: typing replaces it.
    Edit1->selectAll();
}

void TfrmIpToIp::Button1Click()
{
    QLineEdit* const edits[] = {Edit1, Edit2, Edit3, Edit4, Edit5};
    const RangeCheck check =
        CheckAddressRange({Edit1->text(), Edit2->text(), Edit3->text(), Edit4->text(), Edit5->text()});
    if (!check.ok()) {
        if (errorBox_)
            errorBox_(this, check.message());
        if (check.failure == RangeCheck::NotANumber) {
            edits[check.field]->setFocus(Qt::OtherFocusReason);
            edits[check.field]->selectAll();
        }
        return;
    }
    // Stored as entered, before start and end are put in order. The range is
    // run even when the settings file cannot be written; the operator is told.
    // Without a settings file (iniPath empty) nothing is kept.
    QString error;
    if (!iniPath_.isEmpty() && !storeAddressRange(iniPath_, check.values, &error) && errorBox_)
        errorBox_(this, error);
    range_ = ordered(check.values);
    accept();
}

} // namespace tarvok
