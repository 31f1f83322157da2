#include "support/TestFiles.h"
#include "store/IniFile.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

QByteArray crlf(std::initializer_list<const char*> lines)
{
    QByteArray out;
    for (const char* l : lines)
        out += QByteArray(l) + "\r\n";
    return out;
}

IniFile parsed(const QByteArray& bytes)
{
    IniFile ini;
    ini.parse(bytes);
    return ini;
}



int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(IniFile, ReadsValuesWithProfileRules)
{
    const IniFile ini = parsed(crlf({
        "Orphan=before any section",
        "; comment=not a key",
        "[Main]",
        "  Plain =  some text  ",
        "Quoted=\"  padded  \"",
        "Single='x'",
        "Unbalanced=\"abc",
        "Empty=",
        "First=1",
        "first=2",
        "[ main ]",
        "Later=hidden by the first section",
        "[Other]",
        "Plain=other",
    }));
    EXPECT_EQ(ini.readString("Main", "Plain", "d"), "some text");
    EXPECT_EQ(ini.readString("Main", "Quoted", "d"), "  padded  ");
    EXPECT_EQ(ini.readString("Main", "Single", "d"), "x");
    EXPECT_EQ(ini.readString("Main", "Unbalanced", "d"), "\"abc");
    EXPECT_EQ(ini.readString("Main", "Empty", "d"), "");
    EXPECT_EQ(ini.readString("Main", "First", "d"), "1");   // the first of duplicates wins
    EXPECT_EQ(ini.readString("MAIN", "PLAIN", "d"), "some text");
    EXPECT_EQ(ini.readString("other", "plain", "d"), "other");
    EXPECT_EQ(ini.readString("Main", "Missing", "d"), "d");
    EXPECT_EQ(ini.readString("Missing", "Plain", "d"), "d");
    EXPECT_EQ(ini.readString("Main", "Later", "d"), "d");
    EXPECT_EQ(ini.readString("Main", "; comment", "d"), "d");
    EXPECT_EQ(ini.sections(), QStringList({"Main", "Other"}));
    EXPECT_EQ(ini.keys("main"), QStringList({"Plain", "Quoted", "Single", "Unbalanced", "Empty", "First"}));
}

TEST(IniFile, IntegersAndBooleans)
{
    const struct { const char* text; int expected; } cases[] = {
        {"0x10", 16}, {"0X1f", 31}, {"$10", 16}, {"$ff", 255}, {"  42  ", 42}, {"-7", -7},
        {"+8", 8}, {"\"16\"", 16}, {"$FFFFFFFF", -1}, {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        // no integer: the default
        {"0x", -99}, {"$", -99}, {"abc", -99}, {"12abc", -99}, {"1 2", -99}, {"", -99},
        {"2147483648", -99}, {"$100000000", -99}, {"0xg", -99}, {"1.5", -99},
    };
    for (const auto& c : cases) {
        const IniFile ini = parsed(QByteArray("[S]\r\nK=") + c.text + "\r\n");
        EXPECT_EQ(ini.readInteger("S", "K", -99), c.expected) << "value: " << c.text;
    }

    const IniFile ini = parsed(crlf({"[S]", "Two=2", "Zero=0", "Neg=-1", "Text=yes"}));
    EXPECT_TRUE(ini.readBool("S", "Two", false));
    EXPECT_FALSE(ini.readBool("S", "Zero", true));
    EXPECT_TRUE(ini.readBool("S", "Neg", false));
    EXPECT_TRUE(ini.readBool("S", "Text", true));    // no integer: the default
    EXPECT_FALSE(ini.readBool("S", "Text", false));
    EXPECT_TRUE(ini.readBool("S", "Missing", true));

    IniFile w = parsed(crlf({"[S]", "Two=2"}));
    w.writeBool("S", "Two", w.readBool("S", "Two", false));
    w.writeInteger("S", "Num", -12);
    EXPECT_EQ(w.toBytes(), crlf({"[S]", "Two=1", "Num=-12"}));
}

TEST(IniFile, TextIsCutAt2047BytesWithoutSplittingACharacter)
{
    const QString a2047(2047, u'a');
    const QString hira = QStringLiteral("\u3042");   // two bytes in CP932

    auto readBack = [](const QString& value) {
        const IniFile ini = parsed("[S]\r\nK=" + text::encodeCp932(value).bytes + "\r\n");
        return ini.readString("S", "K", "d");
    };
    EXPECT_EQ(readBack(a2047), a2047);
    EXPECT_EQ(readBack(a2047 + "bcd"), a2047);
    // The double-byte character would straddle the limit: it is dropped whole.
    EXPECT_EQ(readBack(QString(2046, u'a') + hira + "z"), QString(2046, u'a'));
    EXPECT_EQ(readBack(QString(2045, u'a') + hira + "z"), QString(2045, u'a') + hira);
    // The cut applies after the quotes are dropped.
    EXPECT_EQ(readBack(u'"' + a2047 + u'"'), a2047);
}

TEST(IniFile, WritingKeepsEverythingElseInPlace)
{
    // An invalid CP932 sequence in a foreign section must come back unchanged.
    const QByteArray foreign = QByteArray("Raw=\x81\x20\xff") ;
    const QByteArray original = crlf({"; head comment", "", "[one]", "  Alpha = 1 ", "beta=2", "", "; about two",
                                      "[Two]", "x=1"})
                                + foreign + "\r\n" + "not a key line\r\n";
    IniFile ini = parsed(original);
    EXPECT_EQ(ini.toBytes(), original);

    ini.writeInteger("ONE", "alpha", 1);    // same value: the line stays as it was
    ini.writeInteger("One", "BETA", 5);     // changed: the file's spelling of the key is kept
    ini.writeString("one", "Gamma", "new"); // after the last key, before the blank line
    ini.writeString("Three", "K", "v");     // new section at the end
    ini.writeString("two", "y", "2");
    const QByteArray expected = crlf({"; head comment", "", "[one]", "  Alpha = 1 ", "beta=5", "Gamma=new", "",
                                      "; about two", "[Two]", "x=1"})
                                + foreign + "\r\n" + crlf({"y=2", "not a key line", "[Three]", "K=v"});
    EXPECT_EQ(ini.toBytes(), expected);
    EXPECT_EQ(parsed(expected).readInteger("one", "alpha", 0), 1);
}

TEST(IniFile, LineEndsAreNormalisedToCrLf)
{
    IniFile ini = parsed("[S]\nA=1\rB=2\r\nC=3");
    EXPECT_EQ(ini.readString("S", "C", ""), "3");
    EXPECT_EQ(ini.toBytes(), crlf({"[S]", "A=1", "B=2", "C=3"}));
}

TEST(IniFile, WrittenTextReadsBackAsWritten)
{
    const QString values[] = {
        "", " lead", "trail ", "\"quoted\"", "'single'", "\"", "a\"b", "a=b;c", "[x]",
        QStringLiteral("\u65e5\u672c\u8a9e\u306e\u30d5\u30a9\u30eb\u30c0\\\u8868"),
    };
    IniFile ini;
    int n = 0;
    for (const QString& v : values)
        ini.writeString("S", QStringLiteral("K%1").arg(n++), v);
    const IniFile back = parsed(ini.toBytes());
    n = 0;
    for (const QString& v : values)
        EXPECT_EQ(back.readString("S", QStringLiteral("K%1").arg(n++), "<missing>"), v);
}

TEST(IniFile, LineBreaksInAValueCannotInjectKeys)
{
    IniFile ini;
    ini.writeString("S", "Cmd", "run\r\n[S]\r\nEvil=1\nx");
    const IniFile back = parsed(ini.toBytes());
    EXPECT_EQ(back.keys("S"), QStringList({"Cmd"}));
    EXPECT_EQ(back.readString("S", "Cmd", ""), "run  [S]  Evil=1 x");
}

TEST(IniFile, SaveAndLoad)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");

    IniFile missing;
    EXPECT_TRUE(missing.load(path));   // no file yet: empty, no error
    EXPECT_TRUE(missing.sections().isEmpty());
    EXPECT_FALSE(QFile::exists(path)); // loading never creates it

    missing.writeString("S", "K", "v");
    QString error;
    ASSERT_TRUE(missing.save(&error)) << error.toStdString();
    EXPECT_EQ(readBytes(path), crlf({"[S]", "K=v"}));
    EXPECT_EQ(entriesOf(dir.path()), QStringList({"tarvok.ini"}));

    IniFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.readString("s", "k", ""), "v");
}

TEST(IniFile, NewFilesFollowTheUmaskButTheIniIsNeverWritableByOthers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        mode_t umask;
        int iniMode;   // a new INI file
        int plainMode; // any other new file
    };
    int n = 0;
    for (const Case c : {Case {022, 0644, 0644}, Case {002, 0644, 0664}, Case {0, 0644, 0666}, Case {077, 0600, 0600}}) {
        const QString ini = dir.filePath(QStringLiteral("t%1.ini").arg(n));
        const QString plain = dir.filePath(QStringLiteral("t%1.txt").arg(n++));
        const mode_t saved = ::umask(c.umask);
        IniFile f;
        f.setPath(ini);
        f.writeString("S", "K", "v");
        const bool iniSaved = f.save();
        const bool plainSaved = writeFileAtomic(plain, "x");
        ::umask(saved);
        ASSERT_TRUE(iniSaved && plainSaved);
        EXPECT_EQ(modeOf(ini), c.iniMode) << "umask " << c.umask;
        EXPECT_EQ(modeOf(plain), c.plainMode) << "umask " << c.umask;
    }
    // An existing file keeps the mode its owner gave it.
    const QString shared = dir.filePath("shared.ini");
    writeBytes(shared, "[S]\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0664), 0);
    IniFile f;
    ASSERT_TRUE(f.load(shared));
    f.writeString("S", "K", "v");
    ASSERT_TRUE(f.save());
    EXPECT_EQ(modeOf(shared), 0664);
}

TEST(IniFile, UnwritablePathGivesTheMessage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A regular file where a folder should be: fails for root too.
    writeBytes(dir.filePath("plain"), "x");
    const QString paths[] = {dir.filePath("plain/tarvok.ini"), dir.filePath("no/such/folder/tarvok.ini")};
    for (const QString& path : paths) {
        IniFile ini;
        ini.setPath(path);
        ini.writeString("S", "K", "v");
        QString error;
        EXPECT_FALSE(ini.save(&error));
        EXPECT_EQ(error, path + QStringLiteral(" に書き込めません"));
    }
    EXPECT_EQ(readBytes(dir.filePath("plain")), "x");
}

TEST(IniFile, ReadOnlyFolderStillSavesTheWritableFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders; AtomicFile tests act as another user";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");
    writeBytes(path, crlf({"[S]", "K=old"}));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    ini.writeString("S", "K", "new");
    QString error;
    EXPECT_TRUE(ini.save(&error)) << error.toStdString();
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(readBytes(path), crlf({"[S]", "K=new"}));
    EXPECT_EQ(entriesOf(dir.path()), QStringList({"tarvok.ini"}));
}

TEST(IniFile, FailedWriteKeepsTheOldFile)
{
    // A file size limit makes the write fail half way, for root as well.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");
    const QByteArray old = crlf({"[S]", "K=old"});
    writeBytes(path, old);

    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    ini.writeString("S", "K", QString(100000, u'n'));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool ok = ini.save(&error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(error, path + QStringLiteral(" に書き込めません"));
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(entriesOf(dir.path()), QStringList({"tarvok.ini"}));
}

TEST(IniFileDeathTest, KilledDuringSaveLeavesAWholeFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this test again from the start in a new process; it
    // finds the parent's folder through the environment.
    static const char* const kDirVar = "TARVOK_TEST_KILL_DIR";
    const bool inChild = qEnvironmentVariableIsSet(kDirVar);
    std::optional<QTemporaryDir> own;
    if (!inChild) {
        own.emplace();
        ASSERT_TRUE(own->isValid());
        qputenv(kDirVar, QFile::encodeName(own->path()));
    }
    const QString dirPath = inChild ? qEnvironmentVariable(kDirVar) : own->path();
    const QString path = dirPath + "/tarvok.ini";
    IniFile a, b;
    a.setPath(path);
    b.setPath(path);
    // Large enough that writing takes a while, so the kill often falls
    // inside a write.
    for (int i = 0; i < 8; ++i) {
        a.writeString("S", QStringLiteral("Key%1").arg(i), QString(1 << 20, u'a'));
        b.writeString("S", QStringLiteral("Key%1").arg(i), QString(1 << 20, u'b'));
    }
    ASSERT_TRUE(a.save());
    const QByteArray bytesA = a.toBytes(), bytesB = b.toBytes();

    // The child saves the two versions in turn until a timer signal kills it
    // somewhere in the middle of a save.
    for (int delayMs : {3, 17, 41}) {
        EXPECT_EXIT(
            {
                itimerval t{};
                t.it_value.tv_usec = delayMs * 1000;
                setitimer(ITIMER_REAL, &t, nullptr);
                for (;;) {
                    b.save();
                    a.save();
                }
            },
            ::testing::KilledBySignal(SIGALRM), "");
        const QByteArray now = readBytes(path);
        EXPECT_TRUE(now == bytesA || now == bytesB) << "partial file of " << now.size() << " bytes";
    }
    qunsetenv(kDirVar);
}

TEST(IniFile, Utf8FileIsReadAsUtf8AndSavedAsCp932)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tarvok.ini");
    writeBytes(path, QStringLiteral("\uFEFF[Tarvok]\r\nNGCommand=通知.sh\r\n").toUtf8());
    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    EXPECT_TRUE(ini.loadedUtf8());
    EXPECT_EQ(ini.readString("Tarvok", "NGCommand", QString()), QStringLiteral("通知.sh"));
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(readBytes(path), cp932(QStringLiteral("[Tarvok]\r\nNGCommand=通知.sh\r\n")));
    ASSERT_TRUE(ini.load(path));
    EXPECT_FALSE(ini.loadedUtf8());
}
