// The atomic save, piece by piece: nothing replaces the old file before the
// commit, and a writer given up leaves neither damage nor a temporary file.

#include "support/TestFiles.h"

#include "base/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

TEST(AtomicFile, StreamedContentReplacesTheFileOnlyOnCommit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.txt"));
    writeBytes(path, "old\r\n");
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(path, mode));
    const auto files = [&] { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); };

    {
        AtomicFileWriter w(path);
        ASSERT_TRUE(w.open());
        ASSERT_TRUE(w.write("new "));
        EXPECT_EQ(readBytes(path), QByteArray("old\r\n"));
        // Given up without a commit.
    }
    EXPECT_EQ(readBytes(path), QByteArray("old\r\n"));
    EXPECT_EQ(files(), QStringList{QStringLiteral("report.txt")});

    AtomicFileWriter w(path);
    ASSERT_TRUE(w.open());
    ASSERT_TRUE(w.write("new ") && w.write(QByteArray("content\r\n")));
    ASSERT_TRUE(w.commit());
    EXPECT_EQ(readBytes(path), QByteArray("new content\r\n"));
    EXPECT_EQ(int(QFile::permissions(path) & 0x7077), int(mode & 0x7077));
    EXPECT_EQ(files(), QStringList{QStringLiteral("report.txt")});

    AtomicFileWriter nowhere(dir.filePath(QStringLiteral("missing/report.txt")));
    EXPECT_FALSE(nowhere.open());
    EXPECT_FALSE(nowhere.write("x"));
    EXPECT_FALSE(nowhere.commit());
    EXPECT_FALSE(nowhere.errorString().isEmpty());
}
