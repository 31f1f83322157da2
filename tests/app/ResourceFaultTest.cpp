// The program when its resources fail: a disk that fills up while the target
// file, the settings, a report and log lines are written, a log file that is deleted
// or replaced by a folder while lines go to it, and a very large target list.
// Nothing written before may be lost, and the operator hears of what could
// not be written where the program says so.

#include "support/FakeIcmp.h"
#include "support/TestFiles.h"

#include "app/Startup.h"
#include "app/ProgramWindow.h"
#include "base/Cp932.h"
#include "icmp/KtIcmp.h"
#include "store/ReportWriter.h"
#include "targets/TargetFile.h"
#include "targets/TargetList.h"
#include "ui/commands/TargetFileCommands.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

// A small file system of the test's own: a tmpfs mounted in a mount
// namespace of this thread, so that no other process sees it. Needs root.
class SmallDisk {
public:
    SmallDisk()
    {
        if (::geteuid() != 0) {
            why_ = "needs root for a mount namespace";
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why_ = std::string("no mount namespace: ") + std::strerror(errno);
            return;
        }
        QByteArray dir = QFile::encodeName(QDir::tempPath()) + "/tarvok-disk-XXXXXX";
        if (!::mkdtemp(dir.data())
            || ::mount("tarvok-test", dir.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0755") != 0) {
            why_ = std::string("no tmpfs: ") + std::strerror(errno);
            return;
        }
        dir_ = dir;
    }
    ~SmallDisk()
    {
        if (!dir_.isEmpty()) {
            ::umount2(dir_.constData(), MNT_DETACH);
            ::rmdir(dir_.constData());
        }
    }
    bool ready() const { return !dir_.isEmpty(); }
    const std::string& why() const { return why_; }
    QString path(const QString& name = QString()) const
    {
        return name.isEmpty() ? QFile::decodeName(dir_) + u'/' : QFile::decodeName(dir_) + u'/' + name;
    }
    // Takes every byte that is left.
    void fill()
    {
        const int fd = ::open((dir_ + "/filler").constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        static const QByteArray chunk(65536, 'f');
        for (qsizetype size = chunk.size(); size > 0; size /= 2)
            while (::write(fd, chunk.constData(), static_cast<size_t>(size)) > 0) {
            }
        ::close(fd);
    }
    void free() { ::unlink((dir_ + "/filler").constData()); }
    // The names in the folder, the filler aside.
    QStringList entries() const
    {
        QStringList e = QDir(path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        e.removeAll(QStringLiteral("filler"));
        return e;
    }

private:
    QByteArray dir_;
    std::string why_;
};

struct ProgramRig {
    ManualClock clock;
    std::unique_ptr<TarvokProgram> program;
    QStringList errors;

    explicit ProgramRig(const QString& home)
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("TARVOK_HOME"), home);
        AppPaths paths = AppPaths::resolve(QStringLiteral("/nonexistent/bin/tarvok"), env);
        auto engine = std::make_unique<TKtICMP>(std::make_unique<FakeTransport>(clock),
                                                std::make_unique<FakeResolver>(), clock);
        program = std::make_unique<TarvokProgram>(std::move(engine), paths, clock, false);
        program->hooks().error = [this](const QString& t) { errors << t; };
        program->hooks().warning = [this](const QString& t) { errors << t; };
        program->hooks().quit = [] {};
        TargetFileCommands::Dialogs& d = window().files().dialogs();
        d.error = [this](QWidget*, const QString& t) { errors << t; };
        d.warning = [this](QWidget*, const QString& t) { errors << t; };
    }
    ProgramWindow& window() { return program->window(); }
};

QByteArray logLine(const QString& text)
{
    return text::encodeCp932(text + QStringLiteral("\r\n")).bytes;
}

} // namespace

TEST(DiskFull, SavesFailWithTheirMessagesAndKeepWhatWasThere)
{
    SmallDisk disk;
    if (!disk.ready())
        GTEST_SKIP() << disk.why();
    const QString def = disk.path(QStringLiteral("Tarvok.def"));
    const QString ini = disk.path(QStringLiteral("tarvok.ini"));
    const QString params = disk.path(QStringLiteral("Tarvok.def.#CONFIG#"));
    writeBytes(def, "198.18.1.1 old\r\n");
    writeBytes(ini, "[Tarvok]\r\nSaveConfig=1\r\n");
    writeBytes(params, "PingCount=7\r\n");
    const QString report = disk.path(QStringLiteral("report.csv"));
    writeBytes(report, "old report\r\n");
    QStandardItemModel results(2000, 6);
    for (int row = 0; row < results.rowCount(); ++row)
        for (int column = 0; column < 6; ++column)
            results.setItem(row, column, new QStandardItem(QStringLiteral("セル %1").arg(row)));

    ProgramRig r(disk.path());
    ASSERT_TRUE(r.program->FormCreate({}));
    r.window().Memo1->setPlainText(QStringLiteral("198.18.1.2 new\n").repeated(500));
    r.window().Memo1->document()->setModified(true);
    disk.fill();

    // The target file: its message, the old file whole, the text still marked.
    EXPECT_FALSE(r.window().files().Save());
    EXPECT_EQ(r.errors, QStringList {cannotCreateMessage(def)});
    EXPECT_EQ(readBytes(def), "198.18.1.1 old\r\n");
    EXPECT_TRUE(r.window().Memo1->document()->isModified());

    // The parameter file fails silently, the settings with their message.
    r.errors.clear();
    EXPECT_FALSE(r.program->EndOfProgram());
    EXPECT_EQ(r.errors, QStringList {IniFile::cannotWriteMessage(ini)});
    EXPECT_EQ(readBytes(ini), "[Tarvok]\r\nSaveConfig=1\r\n");
    EXPECT_EQ(readBytes(params), "PingCount=7\r\n");
    // A report: not written, the old one kept (the command then offers its
    // save dialog again).
    const ReportResult saved = SaveResultList(report, results, true);
    EXPECT_FALSE(saved.written);
    EXPECT_FALSE(saved.error.isEmpty());
    EXPECT_EQ(readBytes(report), "old report\r\n");
    EXPECT_EQ(disk.entries(), (QStringList {"Tarvok.def", "Tarvok.def.#CONFIG#", "report.csv", "tarvok.ini"}))
        << "no temporary file is left behind";

    // With room again the same commands succeed.
    disk.free();
    r.errors.clear();
    EXPECT_TRUE(r.window().files().Save());
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_EQ(readBytes(def).size(), 500 * 16);
    EXPECT_TRUE(SaveResultList(report, results, true).written);
}

TEST(DiskFull, ALogLineWaitsForRoomAndNeverLeavesABrokenLine)
{
    SmallDisk disk;
    if (!disk.ready())
        GTEST_SKIP() << disk.why();
    Preferences prefs;
    prefs.LogTrace = true;
    prefs.LogDirectory = disk.path();
    StartupOptions options;
    ManualClock clock;
    LogWriter log(prefs, options, disk.path(), clock);
    const QString path = disk.path(QStringLiteral("Tarvok.log"));

    log.WriteLogLine(QStringLiteral("first"));
    const QByteArray before = readBytes(path);
    ASSERT_EQ(before, logLine(LogWriter::headerText()) + logLine(QStringLiteral("first")));

    // A line longer than the room left in the file's last block: the disk
    // takes part of it, and that part must not stay.
    disk.fill();
    const QString longLine = QStringLiteral("long ") + QString(6000, u'x');
    log.WriteLogLine(longLine);
    log.WriteLogLine(QStringLiteral("third"));
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(log.pendingLines(), 2);

    // Room again before the retries run out: both lines arrive in order.
    clock.advance(LogWriter::kRetryIntervalMs * 10);
    disk.free();
    clock.advance(LogWriter::kRetryIntervalMs);
    EXPECT_EQ(log.pendingLines(), 0);
    EXPECT_EQ(readBytes(path), before + logLine(longLine) + logLine(QStringLiteral("third")));
    EXPECT_EQ(log.droppedLines(), 0);

    // A disk that stays full: the line is given up after its retries, and
    // the file stays whole.
    disk.fill();
    const QByteArray full = readBytes(path);
    log.WriteLogLine(longLine);
    for (int i = 0; i <= LogWriter::kMaxRetries; ++i)
        clock.advance(LogWriter::kRetryIntervalMs);
    EXPECT_EQ(log.pendingLines(), 0);
    EXPECT_EQ(log.droppedLines(), 1);
    EXPECT_EQ(readBytes(path), full);

    // A new log file on a full disk is not created without its header.
    prefs.FixedLogFileName = QStringLiteral("other.log");
    log.WriteLogLine(longLine);
    EXPECT_FALSE(QFile::exists(disk.path(QStringLiteral("other.log"))));
    disk.free();
    clock.advance(LogWriter::kRetryIntervalMs);
    EXPECT_EQ(readBytes(disk.path(QStringLiteral("other.log"))), logLine(LogWriter::headerText()) + logLine(longLine));
}

TEST(LogFile, DeletedOrReplacedByAFolderWhileLinesGoToIt)
{
    QTemporaryDir dir;
    Preferences prefs;
    prefs.LogTrace = true;
    prefs.LogDirectory = dir.path();
    StartupOptions options;
    ManualClock clock;
    LogWriter log(prefs, options, dir.path(), clock);
    const QString path = dir.filePath(QStringLiteral("Tarvok.log"));
    const QByteArray header = logLine(LogWriter::headerText());

    log.WriteLogLine(QStringLiteral("1"));
    ASSERT_TRUE(QFile::remove(path));
    log.WriteLogLine(QStringLiteral("2"));
    EXPECT_EQ(readBytes(path), header + logLine(QStringLiteral("2"))) << "a new file, with its header";

    // A folder in its place: lines wait without blocking, and arrive once
    // the name is a file again.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    log.WriteLogLine(QStringLiteral("3"));
    log.WriteLogLine(QStringLiteral("4"));
    EXPECT_EQ(log.pendingLines(), 2);
    clock.advance(LogWriter::kRetryIntervalMs * 5);
    ASSERT_TRUE(QDir().rmdir(path));
    clock.advance(LogWriter::kRetryIntervalMs);
    EXPECT_EQ(readBytes(path), header + logLine(QStringLiteral("3")) + logLine(QStringLiteral("4")));

    // A folder that stays: the lines are given up after their retries; the
    // folder is left alone.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    log.WriteLogLine(QStringLiteral("5"));
    for (int i = 0; i <= LogWriter::kMaxRetries; ++i)
        clock.advance(LogWriter::kRetryIntervalMs);
    EXPECT_EQ(log.pendingLines(), 0);
    EXPECT_EQ(log.droppedLines(), 1);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(TargetList, OneHundredMegabytesAreReadWhole)
{
    // 100 MB of targets, some with Japanese comments, a few bytes that are
    // no CP932 among them: every line becomes its entry, in order.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    const QByteArray comment = text::encodeCp932(QStringLiteral("ループバック")).bytes;
    QByteArray bytes;
    bytes.reserve(100 * 1024 * 1024 + 64);
    int lines = 0;
    while (bytes.size() < 100 * 1024 * 1024) {
        bytes += "198.18." + QByteArray::number((lines >> 8) & 255) + '.' + QByteArray::number(lines & 255) + ' ';
        bytes += (lines % 100000 == 7) ? QByteArray("\x81\x20") : (lines % 1000 == 0) ? comment : QByteArray("lo");
        bytes += QByteArray::number(lines++) + "\r\n";
    }
    writeBytes(path, bytes);
    bytes = QByteArray();

    const TargetFileRead read = readTargetFile(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.invalidCount, (lines + 99992) / 100000);
    EXPECT_EQ(read.firstInvalidLine, 8);
    TargetList list;
    ParseTargetList(read.text.split(u'\n'), list);
    ASSERT_EQ(list.count(), lines);
    EXPECT_EQ(list.at(0).Address, QStringLiteral("198.18.0.0"));
    EXPECT_EQ(list.at(0).Comment, QStringLiteral("ループバック0"));
    EXPECT_EQ(list.at(lines - 1).Comment, QStringLiteral("lo%1").arg(lines - 1));
    EXPECT_EQ(list.at(lines / 1000 * 1000).Comment, QStringLiteral("ループバック%1").arg(lines / 1000 * 1000));
}
