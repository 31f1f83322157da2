// Files that another local user prepared against the operator: a link
// planted in a shared sticky folder, FIFOs and devices named as files, an
// endless file, and a file name that is not UTF-8. Each is refused with a
// message that names it (or opened, where it is the operator's own), never
// blocks, and writes nothing it should not.

#include "support/TestFiles.h"

#include "base/AtomicFile.h"
#include "base/SafeOpen.h"
#include "store/IniFile.h"
#include "store/LogWriter.h"
#include "targets/ParameterFile.h"
#include "targets/TargetFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

constexpr uid_t kNobody = 65534;

QByteArray bytesOf(const QString& path)
{
    return QFile::encodeName(path);
}

// Every way the program saves a file the operator named; true when it wrote.
struct Save {
    const char* what;
    std::function<bool(const QString& path, QString* message)> save;
};

const std::vector<Save>& allSaves()
{
    static const std::vector<Save> saves = {
        {"target file",
         [](const QString& path, QString* message) {
             const TargetFileWrite w = writeTargetFile(path, QStringLiteral("192.0.2.1\n"));
             *message = w.message;
             return w.ok();
         }},
        {"settings",
         [](const QString& path, QString* message) {
             IniFile ini;
             ini.setPath(path);
             ini.writeString(QStringLiteral("Tarvok"), QStringLiteral("LogTrace"), QStringLiteral("1"));
             return ini.save(message);
         }},
        {"report",
         [](const QString& path, QString* message) {
             AtomicFileWriter w(path);
             const bool ok = w.open() && w.write("report\r\n") && w.commit();
             *message = w.errorString();
             return ok;
         }},
        {"log",
         [](const QString& path, QString* message) {
             Preferences prefs;
             StartupOptions options;
             options.commandMode = true;
             options.outputLogFile = path;
             LogWriter log(prefs, options, QDir::tempPath());
             log.WriteLogLine(QStringLiteral("line"));
             if (log.losses().empty())
                 return true;
             *message = LogWriter::lostLinesMessage(path, 1, log.losses().front().reason);
             return false;
         }},
    };
    return saves;
}

} // namespace

TEST(HostileFiles, ALinkPlantedByAnotherUserInAStickyFolderIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant another user's link";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shared = dir.filePath("shared");
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(bytesOf(shared).constData(), 01777), 0);
    const QString victim = dir.filePath("victim");
    const QString mine = dir.filePath("mine");

    for (const Save& s : allSaves()) {
        SCOPED_TRACE(s.what);
        writeBytes(victim, "precious");
        QFile::remove(dir.filePath("created"));
        // nobody's link to an existing file, and nobody's dangling link to a
        // file that does not exist yet.
        for (const QString& to : {victim, dir.filePath("created")}) {
            const QString link = shared + QStringLiteral("/list.txt");
            QFile::remove(link);
            ASSERT_EQ(::symlink(bytesOf(to).constData(), bytesOf(link).constData()), 0);
            ASSERT_EQ(::lchown(bytesOf(link).constData(), kNobody, kNobody), 0);
            QString message;
            EXPECT_FALSE(s.save(link, &message));
            EXPECT_TRUE(message.contains(link)) << message.toStdString();
            EXPECT_TRUE(message.contains(QStringLiteral("シンボリックリンク"))) << message.toStdString();
        }
        EXPECT_EQ(readBytes(victim), QByteArray("precious"));
        EXPECT_FALSE(QFile::exists(dir.filePath("created")));
        // Also through a folder link of nobody's on the way.
        const QString folderLink = shared + QStringLiteral("/d");
        QFile::remove(folderLink);
        ASSERT_EQ(::symlink(bytesOf(dir.path()).constData(), bytesOf(folderLink).constData()), 0);
        ASSERT_EQ(::lchown(bytesOf(folderLink).constData(), kNobody, kNobody), 0);
        QString message;
        EXPECT_FALSE(s.save(folderLink + QStringLiteral("/victim"), &message));
        EXPECT_EQ(readBytes(victim), QByteArray("precious"));

        // The operator's own link is followed as before, and stays a link.
        writeBytes(mine, "");
        const QString own = shared + QStringLiteral("/own.txt");
        QFile::remove(own);
        ASSERT_EQ(::symlink(bytesOf(mine).constData(), bytesOf(own).constData()), 0);
        EXPECT_TRUE(s.save(own, &message)) << message.toStdString();
        EXPECT_FALSE(readBytes(mine).isEmpty());
        EXPECT_TRUE(QFileInfo(own).isSymLink());
    }

    // Reading through nobody's link is refused too.
    const QString link = shared + QStringLiteral("/list.txt");
    const TargetFileRead r = readTargetFile(link);
    EXPECT_EQ(r.status, TargetFileRead::Refused);
    EXPECT_TRUE(r.error.contains(link));
}

// A folder on the way swapped for a link between the check and the write:
// the save still lands in the folder that was checked, and nothing is
// written where the link leads; a read or a log line through such a swapped
// way finds no folder.
TEST(HostileFiles, AFolderSwappedForALinkAfterTheCheckLeadsNowhere)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString sub = dir.filePath("sub");
    const QString moved = dir.filePath("moved");
    const QString elsewhere = dir.filePath("elsewhere");
    ASSERT_TRUE(QDir().mkdir(sub));
    ASSERT_TRUE(QDir().mkdir(elsewhere));

    AtomicFileWriter w(sub + QStringLiteral("/report.csv"));
    ASSERT_TRUE(w.open());
    ASSERT_EQ(::rename(bytesOf(sub).constData(), bytesOf(moved).constData()), 0);
    ASSERT_EQ(::symlink(bytesOf(elsewhere).constData(), bytesOf(sub).constData()), 0);
    ASSERT_TRUE(w.write("report\r\n") && w.commit()) << w.errorString().toStdString();
    EXPECT_EQ(readBytes(moved + QStringLiteral("/report.csv")), QByteArray("report\r\n"));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());

    // The resolved way of the file, now with a link on it.
    const NoLinkFolder swapped(bytesOf(sub + QStringLiteral("/report.csv")));
    EXPECT_FALSE(swapped.ok());
    EXPECT_EQ(swapped.error(), ENOTDIR);
    const NoLinkFolder straight(bytesOf(moved + QStringLiteral("/report.csv")));
    ASSERT_TRUE(straight.ok());
    EXPECT_EQ(straight.name(), QByteArray("report.csv"));
}

TEST(HostileFiles, FifosAndDevicesAreRefusedAtOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(bytesOf(fifo).constData(), 0600), 0);
    QElapsedTimer took;
    took.start();

    // Reads: target file, parameter file, settings.
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
        SCOPED_TRACE(path.toStdString());
        const TargetFileRead r = readTargetFile(path);
        EXPECT_EQ(r.status, TargetFileRead::Refused);
        EXPECT_TRUE(r.error.contains(path) && r.error.contains(QStringLiteral("通常のファイルではない")))
            << r.error.toStdString();
        RunParameters p;
        const ParameterFileResult pr = readParameterFile(path, p);
        EXPECT_TRUE(pr.failed());
        EXPECT_TRUE(pr.message.contains(QStringLiteral("通常のファイルではない")));
        IniFile ini;
        QString why;
        EXPECT_FALSE(ini.load(path, &why));
        EXPECT_FALSE(why.isEmpty());
    }
    // Saves: the FIFO stays a FIFO; the log loses its line at once, with the
    // reason (no retries: nothing would change).
    for (const Save& s : allSaves()) {
        SCOPED_TRACE(s.what);
        QString message;
        EXPECT_FALSE(s.save(fifo, &message));
        EXPECT_TRUE(message.contains(fifo) && message.contains(QStringLiteral("通常のファイルではない")))
            << message.toStdString();
        struct stat st {};
        ASSERT_EQ(::lstat(bytesOf(fifo).constData(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    EXPECT_LT(took.elapsed(), 5000) << "nothing may block";

    // A log may go to /dev/null.
    QString message;
    EXPECT_TRUE(allSaves().back().save(QStringLiteral("/dev/null"), &message)) << message.toStdString();
}

TEST(HostileFiles, ReadsStopAtTheirLimit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("big");
    writeBytes(path, QByteArray(4096, 'x'));
    EXPECT_EQ(readRegularFile(path, 4096).status, FileBytes::Ok);
    const FileBytes over = readRegularFile(path, 4095);
    EXPECT_EQ(over.status, FileBytes::Refused);
    EXPECT_TRUE(over.error.contains(path));
    // A file that claims no size (as in /proc) is still cut at the limit.
    EXPECT_EQ(readRegularFile(QStringLiteral("/proc/self/maps"), 16).status, FileBytes::Refused);
    EXPECT_GE(kMaxTargetFileBytes, 100LL * 1024 * 1024 * 4);
}

TEST(HostileFiles, FileNamesThatAreNotUtf8OpenAsTheirBytes)
{
    // CP932 (a lone lead byte at the end too), mixed, plain UTF-8, and a
    // character beyond U+FFFF whose second half looks like an escaped byte
    // (U+1F4C4, after a stray byte).
    for (const QByteArray& name : {QByteArray("\x91\xce\x8f\xdb.txt"), QByteArray("a\xe3\x81\x82\x82"),
                                   QByteArray("\xe5\xaf\xbe\xe8\xb1\xa1.txt"), QByteArray("\xf0\x9f\x93\x84.txt"),
                                   QByteArray("\xb2\xf0\x9f\x93\x84")}) {
        SCOPED_TRACE(name.toHex().toStdString());
        EXPECT_EQ(fileNameBytes(fileNameFromBytes(name)), name);
    }
    EXPECT_EQ(fileNameFromBytes("\xe5\xaf\xbe"), QStringLiteral("対"));

    QTemporaryDir dir;
    const QByteArray folder = bytesOf(dir.path()) + '/';
    const QByteArray cp932Name = folder + "\x91\xce\x8f\xdb.txt";
    const int fd = ::open(cp932Name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "192.0.2.1\r\n", 11), 11);
    ::close(fd);
    const QString asText = fileNameFromBytes(cp932Name);
    const TargetFileRead r = readTargetFile(asText);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.text, QStringLiteral("192.0.2.1\n"));
    // The companion file goes beside it under the same bytes.
    RunParameters p;
    ASSERT_TRUE(writeParameterFile(parameterFilePath(asText), asText, p, QDateTime::currentDateTime()));
    EXPECT_EQ(::access((cp932Name + ".#CONFIG#").constData(), F_OK), 0);
    // QTemporaryDir cannot remove names that are not UTF-8.
    ::unlink((cp932Name + ".#CONFIG#").constData());
    ::unlink(cp932Name.constData());
}
