#include "ui/widgets/SpinEdit.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

using tarvok::TSpinEdit;

namespace {

struct SpinFixture : ::testing::Test {
    QWidget host;
    TSpinEdit* spin = nullptr;
    QLineEdit* other = nullptr;

    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&host);
        spin = new TSpinEdit(&host);
        other = new QLineEdit(&host);
        layout->addWidget(spin);
        layout->addWidget(other);
        spin->setRange(1, 100);
        spin->setValue(3);
        host.show();
        QApplication::setActiveWindow(&host);
        spin->setFocus();
    }

    void typeOver(const QString& text)
    {
        spin->selectAll();
        QTest::keyClicks(spin, text);
    }
};

TEST_F(SpinFixture, ReadsTypedTextUnclampedUntilConfirmed)
{
    typeOver(QStringLiteral("0"));
    EXPECT_EQ(spin->text(), QStringLiteral("0"));
    EXPECT_EQ(spin->Value(), 0); // typed, not yet confirmed: read as typed

    typeOver(QStringLiteral("250"));
    EXPECT_EQ(spin->Value(), 250);

    typeOver(QStringLiteral("-7"));
    EXPECT_EQ(spin->Value(), -7);

    // Not an integer: the minimum.
    typeOver(QStringLiteral("1.5"));
    EXPECT_EQ(spin->Value(), 1);
    spin->setText(QString());
    EXPECT_EQ(spin->Value(), 1);
    // Digits beyond 32 bits: the end of the range they point to.
    spin->setText(QStringLiteral("99999999999"));
    EXPECT_EQ(spin->Value(), 100);
    spin->setText(QStringLiteral("-99999999999"));
    EXPECT_EQ(spin->Value(), 1);
    spin->setRange(0, 0); // no range: the ends of the integers
    spin->setText(QStringLiteral("+99999999999"));
    EXPECT_EQ(spin->Value(), 2147483647);
}

TEST_F(SpinFixture, FocusLossAndSettingClampIntoRange)
{
    typeOver(QStringLiteral("0"));
    other->setFocus();
    EXPECT_EQ(spin->text(), QStringLiteral("1"));

    spin->setFocus();
    typeOver(QStringLiteral("500"));
    other->setFocus();
    EXPECT_EQ(spin->text(), QStringLiteral("100"));

    spin->setFocus();
    typeOver(QStringLiteral("-"));
    other->setFocus();
    EXPECT_EQ(spin->text(), QStringLiteral("1")); // shows what it is read as

    spin->setFocus();
    typeOver(QStringLiteral("+42"));
    other->setFocus();
    EXPECT_EQ(spin->text(), QStringLiteral("42"));

    spin->setValue(-3);
    EXPECT_EQ(spin->Value(), 1);
    spin->setValue(1000);
    EXPECT_EQ(spin->Value(), 100);
    spin->setValue(55);
    EXPECT_EQ(spin->text(), QStringLiteral("55"));
}

TEST_F(SpinFixture, NoLimitWhenMinEqualsMax)
{
    spin->setRange(0, 0);
    spin->setValue(123456);
    EXPECT_EQ(spin->Value(), 123456);
    spin->setValue(-5);
    EXPECT_EQ(spin->Value(), -5);
    spin->UpClick();
    EXPECT_EQ(spin->Value(), -4);
    typeOver(QStringLiteral("777"));
    other->setFocus();
    EXPECT_EQ(spin->text(), QStringLiteral("777"));
}

TEST_F(SpinFixture, RefusesCharactersOtherThanNumberParts)
{
    typeOver(QStringLiteral("1a2 b3x"));
    EXPECT_EQ(spin->text(), QStringLiteral("123"));
    typeOver(QStringLiteral("+-.9"));
    EXPECT_EQ(spin->text(), QStringLiteral("+-.9"));
    QTest::keyClick(spin, Qt::Key_Backspace);
    EXPECT_EQ(spin->text(), QStringLiteral("+-."));

    EXPECT_TRUE(TSpinEdit::IsValidChar(u'5'));
    EXPECT_TRUE(TSpinEdit::IsValidChar(QChar(8))); // backspace
    EXPECT_FALSE(TSpinEdit::IsValidChar(u'\r'));
    EXPECT_FALSE(TSpinEdit::IsValidChar(QChar(0xFF11))); // full-width 1
    EXPECT_FALSE(TSpinEdit::IsValidChar(u' '));

    // Enter adds nothing.
    spin->setValue(7);
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(spin->text(), QStringLiteral("7"));
}

TEST_F(SpinFixture, ArrowsStepWithinRange)
{
    spin->setValue(99);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 100);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 100);
    QTest::mouseClick(spin->downButton(), Qt::LeftButton);
    EXPECT_EQ(spin->Value(), 99);

    // Stepping from an unconfirmed out-of-range text lands in the range.
    typeOver(QStringLiteral("0"));
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->Value(), 1);
    typeOver(QStringLiteral("0"));
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 1);

    spin->setValue(2);
    QTest::mouseClick(spin->upButton(), Qt::LeftButton);
    EXPECT_EQ(spin->Value(), 3);

    spin->setReadOnly(true);
    spin->UpClick();
    EXPECT_EQ(spin->Value(), 3);
}

TEST_F(SpinFixture, ReportsEveryTextChange)
{
    QSignalSpy spy(spin, &TSpinEdit::changed);
    typeOver(QStringLiteral("12"));
    EXPECT_GE(spy.count(), 2);
    spy.clear();
    spin->setValue(40);
    EXPECT_EQ(spy.count(), 1);
    spin->setValue(40);
    EXPECT_EQ(spy.count(), 1);
}

} // namespace
