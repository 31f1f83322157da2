// The address range: the check of the dialog's fields, the generated
// addresses and the range remembered in the settings file.

#include "support/TestFiles.h"

#include "run/AddressRange.h"
#include "store/IniFile.h"
#include "targets/TargetList.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

TEST(AddressRange, FieldsAreCheckedInOrderUpToTheFirstFailure)
{
    struct Case {
        QStringList fields;
        RangeCheck::Failure failure;
        int field;
    } const cases[] = {
        {{"192", "168", "0", "1", "10"}, RangeCheck::None, -1},
        {{" 10 ", "\t0", "0 ", "1", " 254"}, RangeCheck::None, -1},
        {{"abc", "168", "0", "1", "10"}, RangeCheck::NotANumber, 0},
        {{"192", "168", "", "1", "10"}, RangeCheck::NotANumber, 2},
        {{"192", "168", "0", "1", "1.5"}, RangeCheck::NotANumber, 4},
        {{"192", "-1", "0", "1", "10"}, RangeCheck::OutOfRange, 1},
        {{"192", "168", "0", "256", "10"}, RangeCheck::OutOfRange, 3},
        // The first failing field wins, whatever its kind.
        {{"300", "abc", "0", "1", "10"}, RangeCheck::OutOfRange, 0},
        {{"192", "x", "0", "999", "10"}, RangeCheck::NotANumber, 1},
        // 255.255.255.255 is no address; 255.255.255 with 1..254 is fine.
        {{"255", "255", "255", "1", "254"}, RangeCheck::None, -1},
        {{"255", "255", "255", "255", "1"}, RangeCheck::InvalidAddress, -1},
        {{"255", "255", "255", "1", "255"}, RangeCheck::InvalidAddress, -1},
        {{"255", "255", "255", "abc", "255"}, RangeCheck::NotANumber, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields.join(u'|').toStdString());
        const RangeCheck r = CheckAddressRange(c.fields);
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(r.field, c.field);
    }
    EXPECT_EQ(CheckAddressRange({"a"}).message(), QStringLiteral("数値以外の値が入力されています。"));
    EXPECT_EQ(CheckAddressRange({"-1"}).message(), QStringLiteral("入力の範囲が不適切です。"));
    EXPECT_EQ(CheckAddressRange({"255", "255", "255", "255", "255"}).message(), QStringLiteral("入力が不正です。"));

    // Values as entered: start may stay above end here.
    const RangeCheck typed = CheckAddressRange({"010", "0", "0", "20", "5"});
    EXPECT_EQ(typed.values, (AddressRange{10, 0, 0, 20, 5}));
}

TEST(AddressRange, TargetsAreWrittenWithoutLeadingZeros)
{
    TargetList l;
    l.append(QStringLiteral("old"), QStringLiteral("entry"));
    const RangeCheck zeros = CheckAddressRange({"010", "000", "00", "0", "255"});
    ASSERT_TRUE(zeros.ok());
    FillRangeTargets(l, zeros.values);
    ASSERT_EQ(l.count(), 256);
    EXPECT_EQ(l.addresses().at(0), QStringLiteral("10.0.0.0"));
    EXPECT_EQ(l.addresses().at(10), QStringLiteral("10.0.0.10"));
    EXPECT_EQ(l.addresses().at(255), QStringLiteral("10.0.0.255"));
    EXPECT_TRUE(l.comments().at(0).isEmpty());

    FillRangeTargets(l, {127, 0, 0, 7, 7});
    EXPECT_EQ(l.addresses(), QStringList{"127.0.0.7"});
}

TEST(AddressRange, SectionIsStoredWithoutDisturbingTheRestOfTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");

    // No file, no section, values that are no integers: the defaults.
    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    EXPECT_EQ(loadAddressRange(ini), AddressRange{});
    ini.parse("[ContinuationIP]\r\nStartOctet_1=abc\r\nStartOctet_3=0x0A\r\nEndOctet_4=\r\n");
    EXPECT_EQ(loadAddressRange(ini), (AddressRange{192, 168, 10, 1, 10}));

    const QByteArray before = cp932(QStringLiteral("; 手で書いた注記\r\n[Placement]\r\nLeft=10\r\n\r\n[continuationip]\r\n"
                                                   "StartOctet_4=3\r\nOther=keep me\r\n[Tarvok]\r\nNGCommand=\"a b\"\r\n"));
    writeBytes(path, before);
    ASSERT_TRUE(storeAddressRange(path, {10, 1, 2, 20, 5}));
    const QByteArray after = readBytes(path);
    EXPECT_EQ(after, cp932(QStringLiteral("; 手で書いた注記\r\n[Placement]\r\nLeft=10\r\n\r\n[continuationip]\r\n"
                                          "StartOctet_4=20\r\nOther=keep me\r\nStartOctet_1=10\r\nStartOctet_2=1\r\n"
                                          "StartOctet_3=2\r\nEndOctet_4=5\r\n[Tarvok]\r\nNGCommand=\"a b\"\r\n")));
    ASSERT_TRUE(ini.load(path));
    EXPECT_EQ(loadAddressRange(ini), (AddressRange{10, 1, 2, 20, 5}));
}
