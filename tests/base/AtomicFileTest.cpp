// The atomic save on real files: what the replaced file was (mode, owner,
// link) survives the save, and a folder that refuses new files still lets a
// writable file be saved.
#include "base/AtomicFile.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

constexpr uid_t kNobody = 65534;

struct stat statOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Runs `save` in a child process as the user nobody; true when it returned true.
bool saveAsNobody(const std::function<bool()>& save)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok = ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 && save();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(AtomicFile, KeepsModeOwnerAndLinks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const mode_t mode : {mode_t(0444), mode_t(0600), mode_t(0640)}) {
        SCOPED_TRACE(mode);
        const QString path = dir.filePath(QStringLiteral("f%1").arg(mode, 0, 8));
        writeBytes(path, "old");
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        const bool mayWrite = ::access(QFile::encodeName(path).constData(), W_OK) == 0;
        EXPECT_EQ(writeFileAtomic(path, "new"), mayWrite);
        EXPECT_EQ(readBytes(path), mayWrite ? QByteArray("new") : QByteArray("old"));
        EXPECT_EQ(statOf(path).st_mode & 07777, mode);
    }

    // A new file: 0666 less the umask.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(writeFileAtomic(dir.filePath("new"), "x"));
    ::umask(mask);
    EXPECT_EQ(statOf(dir.filePath("new")).st_mode & 07777, mode_t(0644));

    // Through a link: the link stays, its file gets the content.
    ASSERT_TRUE(QFile::link(dir.filePath("new"), dir.filePath("link")));
    ASSERT_TRUE(writeFileAtomic(dir.filePath("link"), "via link"));
    EXPECT_TRUE(QFileInfo(dir.filePath("link")).isSymLink());
    EXPECT_EQ(readBytes(dir.filePath("new")), QByteArray("via link"));

    if (::geteuid() != 0)
        return;
    // Another user's file saved by root stays that user's.
    const QString theirs = dir.filePath("theirs");
    writeBytes(theirs, "old");
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kNobody, kNobody), 0);
    ASSERT_TRUE(writeFileAtomic(theirs, "new"));
    EXPECT_EQ(statOf(theirs).st_uid, kNobody);
    EXPECT_EQ(statOf(theirs).st_gid, gid_t(kNobody));
    EXPECT_EQ(entriesOf(dir.path()).size(), 6); // no temporary file left
}

TEST(AtomicFile, FolderWithoutWriteAccessSavesAWritableFileInPlace)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // A folder of root's where nobody owns two files: one writable, one not.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString writable = dir.filePath("list.txt");
    const QString readOnly = dir.filePath("fixed.txt");
    for (const QString& p : {writable, readOnly}) {
        writeBytes(p, "an older and longer content");
        ASSERT_EQ(::chown(QFile::encodeName(p).constData(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(writable).constData(), 0604), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);

    EXPECT_TRUE(saveAsNobody([&] { return writeFileAtomic(writable, "new"); }));
    EXPECT_EQ(readBytes(writable), QByteArray("new"));
    EXPECT_EQ(statOf(writable).st_mode & 07777, mode_t(0604));
    EXPECT_EQ(statOf(writable).st_uid, kNobody);

    EXPECT_FALSE(saveAsNobody([&] { return writeFileAtomic(readOnly, "new"); }));
    EXPECT_EQ(readBytes(readOnly), QByteArray("an older and longer content"));
    // Nor may nobody create a file there.
    EXPECT_FALSE(saveAsNobody([&] { return writeFileAtomic(dir.filePath("other.txt"), "x"); }));
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"fixed.txt", "list.txt"}));
}

TEST(AtomicFile, StreamedContentReplacesTheFileOnlyOnCommit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("report.txt"));
    writeBytes(path, "old\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    {
        AtomicFileWriter w(path);
        ASSERT_TRUE(w.open());
        ASSERT_TRUE(w.write("new "));
        EXPECT_EQ(readBytes(path), QByteArray("old\r\n"));
        // Given up without a commit.
    }
    EXPECT_EQ(readBytes(path), QByteArray("old\r\n"));
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("report.txt")});

    // Enough pieces to pass the early write-back more than once.
    AtomicFileWriter w(path);
    ASSERT_TRUE(w.open());
    const QByteArray piece(1024 * 1024, 'x');
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(w.write(piece));
    ASSERT_TRUE(w.write(QByteArray("\r\n")));
    ASSERT_TRUE(w.commit());
    EXPECT_EQ(readBytes(path), piece.repeated(20) + "\r\n");
    EXPECT_EQ(statOf(path).st_mode & 07777, mode_t(0640));
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("report.txt")});

    AtomicFileWriter nowhere(dir.filePath(QStringLiteral("missing/report.txt")));
    EXPECT_FALSE(nowhere.open());
    EXPECT_FALSE(nowhere.write("x"));
    EXPECT_FALSE(nowhere.commit());
    EXPECT_FALSE(nowhere.errorString().isEmpty());
}
