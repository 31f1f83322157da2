#include "support/TestFiles.h"
#include "targets/ParameterFile.h"
#include "targets/TargetFile.h"

#include "base/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {



} // namespace

TEST(TargetFile, RoundTripInCp932WithCrLf)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    const QString editor = QStringLiteral("# 本社ルータ\n192.168.0.1 ゲートウェイ\\\nserver～1 表示\n\nlast");
    ASSERT_TRUE(writeTargetFile(path, editor).ok());

    const QByteArray bytes = readBytes(path);
    EXPECT_EQ(bytes.count("\r\n"), 4);
    EXPECT_EQ(bytes.count('\n'), 4);  // no bare LF
    EXPECT_FALSE(bytes.endsWith("\r\n")); // no line end is added or lost
    EXPECT_TRUE(bytes.contains("\x96\x7B\x8E\xD0")); // 本社
    EXPECT_TRUE(bytes.contains("\x81\x60"));         // the wave dash of CP932

    const TargetFileRead r = readTargetFile(path);
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.hasInvalidBytes());
    EXPECT_EQ(r.text, editor);
}

TEST(TargetFile, ReadingAcceptsEveryLineEnd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t");
    writeBytes(path, "a\r\nb\nc\rd\r\n\r\n");
    const TargetFileRead r = readTargetFile(path);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.text, "a\nb\nc\nd\n\n");
    // Written back, every line end becomes CR LF.
    ASSERT_TRUE(writeTargetFile(path, r.text).ok());
    EXPECT_EQ(readBytes(path), "a\r\nb\r\nc\r\nd\r\n\r\n");
}

TEST(TargetFile, InvalidBytesKeepTheRestAndAreReported)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.txt");
    // Line 2 ends in a lead byte without its trail byte; line 3 holds a byte
    // that is no character at all.
    writeBytes(path, QByteArray("host1\r\nab\x81") + "\r\nhost3 \x83\x65\x83\x58\x83\x67\xFF\r\n");
    const TargetFileRead r = readTargetFile(path);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.invalidCount, 2);
    EXPECT_EQ(r.firstInvalidLine, 2);
    EXPECT_EQ(r.firstInvalidColumn, 3);
    EXPECT_EQ(r.text, QStringLiteral("host1\nab\uFFFD\nhost3 テスト\uFFFD\n"));
    const QString msg = invalidBytesMessage(path, r);
    EXPECT_TRUE(msg.contains(path));
    EXPECT_TRUE(msg.contains(QStringLiteral("2 行目")));
}

TEST(TargetFile, MissingAndUnreadableFiles)
{
    QTemporaryDir dir;
    EXPECT_EQ(readTargetFile(dir.filePath("none.txt")).status, TargetFileRead::NotFound);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.txt"));
    EXPECT_EQ(readTargetFile(dir.filePath("folder.txt")).status, TargetFileRead::Unreadable);
    EXPECT_EQ(cannotOpenMessage("/x/a.txt"), QStringLiteral("ファイル /x/a.txt は開けません"));
}

TEST(TargetFile, UnrepresentableTextIsRefusedAndTheOldFileKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    writeBytes(path, "old\r\n");

    const TargetFileWrite w = writeTargetFile(path, QStringLiteral("a\nb\nxy😀z\n한"));
    EXPECT_EQ(w.status, TargetFileWrite::Unrepresentable);
    EXPECT_EQ(w.character, QStringLiteral("😀"));
    EXPECT_EQ(w.line, 3);
    EXPECT_EQ(w.column, 3);
    EXPECT_TRUE(w.message.contains(QStringLiteral("'😀'")));
    EXPECT_TRUE(w.message.contains(QStringLiteral("3 行目")));
    EXPECT_TRUE(w.message.contains(QStringLiteral("U+1F600")));
    EXPECT_EQ(readBytes(path), "old\r\n");

    // A lone replacement character from a damaged read is refused as well,
    // so the damage is never written back silently.
    EXPECT_EQ(writeTargetFile(path, QStringLiteral("ab\uFFFD")).status, TargetFileWrite::Unrepresentable);
    EXPECT_EQ(readBytes(path), "old\r\n");
}

TEST(TargetFile, FailedSaveLeavesTheOldFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    writeBytes(path, "keep me\r\n");

    // The target is a folder's name in a folder that does not exist: fails
    // for root as well.
    const QString bad = dir.filePath("missing/list.txt");
    const TargetFileWrite w = writeTargetFile(bad, "new");
    EXPECT_EQ(w.status, TargetFileWrite::CannotCreate);
    EXPECT_EQ(w.message, QStringLiteral("ファイル %1 を作成できません").arg(bad));

    // Replacing a path that is a folder fails and the folder stays.
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub.txt"));
    EXPECT_EQ(writeTargetFile(dir.filePath("sub.txt"), "new").status, TargetFileWrite::CannotCreate);
    EXPECT_TRUE(QFileInfo(dir.filePath("sub.txt")).isDir());

    if (::geteuid() != 0) {
        // A read-only folder: the old file is neither truncated nor replaced.
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(writeTargetFile(path, "replacement").status, TargetFileWrite::CannotCreate);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    EXPECT_EQ(readBytes(path), "keep me\r\n");
    // No temporary files are left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"list.txt"});
}

// Files from editors that write UTF-8 are read as UTF-8; the program's own
// Japanese files in CP932 never pass for UTF-8.
TEST(TargetFile, Utf8FilesAreRecognisedAndCp932FilesAreNot)
{
    QTemporaryDir dir;
    const QString list = dir.filePath("utf8.txt");
    writeBytes(list, QStringLiteral("; 本社の機器\n198.18.0.1 東京 ルータ\n").toUtf8());
    TargetFileRead r = readTargetFile(list);
    EXPECT_TRUE(r.utf8);
    EXPECT_FALSE(r.hasInvalidBytes());
    EXPECT_EQ(r.text, QStringLiteral("; 本社の機器\n198.18.0.1 東京 ルータ\n"));

    writeBytes(list, "\xEF\xBB\xBFhost1\r\n");
    r = readTargetFile(list);
    EXPECT_TRUE(r.utf8);
    EXPECT_EQ(r.text, QStringLiteral("host1\n"));

    // Japanese text as this program writes it, in CP932.
    RunParameters params;
    const QByteArray samples[] = {
        formatParameterFile(QStringLiteral("/srv/監視対象 一覧.txt"), params, QDateTime(QDate(2026, 1, 2), QTime(3, 4))),
        cp932(QStringLiteral("\"結果\",\"日時\",\"対象\",\"ＩＰアドレス\",\"ステータス\",\"備考\"\r\n"
                             "\"ＮＧ\",\"2026/01/02 03:04:05\",198.18.0.1,,\"Request timed out\",本社 ゲートウェイ\r\n")),
        cp932(QStringLiteral("# 本社ルータ\r\n192.168.0.1 ゲートウェイ\\\r\nserver～1 表示\r\n")),
        cp932(cannotCreateMessage(QStringLiteral("対象.txt")) + QStringLiteral("対象アドレスが１件もありません。")),
        cp932(QStringLiteral("ｱｲｳｴｵ 半角カナ 漢字かな交じり文、全角英数ＡＢＣ１２３")),
        readBytes(QDir::cleanPath(QStringLiteral(TARVOK_TEST_DATA "/../../store/data/handmade.ini"))),
    };
    for (const QByteArray& bytes : samples) {
        SCOPED_TRACE(bytes.toStdString());
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_FALSE(text::isMultiByteUtf8(bytes));
        writeBytes(list, bytes);
        r = readTargetFile(list);
        EXPECT_FALSE(r.utf8);
        EXPECT_EQ(cp932(r.text.replace(u'\n', QStringLiteral("\r\n"))), bytes);
    }
    // Plain ASCII reads the same either way and is no UTF-8 file.
    EXPECT_FALSE(text::isMultiByteUtf8("198.18.0.1 host\r\n"));
    // Invalid UTF-8 forms: overlong, surrogate, above U+10FFFF, cut short.
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xE3\x81"})
        EXPECT_FALSE(text::isMultiByteUtf8(bad)) << bad;
}
