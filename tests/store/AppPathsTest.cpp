#include "store/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tarvok;

namespace {

QProcessEnvironment env(std::initializer_list<std::pair<const char*, QString>> vars)
{
    QProcessEnvironment e;
    for (const auto& [k, v] : vars)
        e.insert(QString::fromLatin1(k), v);
    return e;
}

auto writable(bool yes)
{
    return [yes](const QString&) { return yes; };
}

} // namespace

TEST(AppPaths, IniFileIsNamedAfterTheExecutable)
{
    EXPECT_EQ(iniFileNameFor("tarvok"), "tarvok.ini");
    EXPECT_EQ(iniFileNameFor("Tarvok.exe"), "Tarvok.ini");
    EXPECT_EQ(iniFileNameFor("tarvok.bin.x"), "tarvok.bin.ini");
    EXPECT_EQ(iniFileNameFor(".tarvok"), ".tarvok.ini");
}

TEST(AppPaths, FolderChoice)
{
    const QString exe = "/home/op/tools/tarvok";
    const QString home = "/home/op";

    // The executable's folder when it can be written.
    AppPaths p = AppPaths::resolve(exe, env({{"HOME", home}}), writable(true));
    EXPECT_EQ(p.source, AppPaths::Source::ExecutableFolder);
    EXPECT_EQ(p.programDir, "/home/op/tools/");
    EXPECT_EQ(p.iniPath, "/home/op/tools/tarvok.ini");
    EXPECT_EQ(p.defaultTargetFile, "/home/op/tools/Tarvok.def");

    // Not writable: the per-user folder, from XDG_CONFIG_HOME or HOME.
    p = AppPaths::resolve(exe, env({{"HOME", home}, {"XDG_CONFIG_HOME", "/cfg"}}), writable(false));
    EXPECT_EQ(p.source, AppPaths::Source::UserFolder);
    EXPECT_EQ(p.iniPath, "/cfg/tarvok/tarvok.ini");
    p = AppPaths::resolve(exe, env({{"HOME", home}}), writable(false));
    EXPECT_EQ(p.programDir, "/home/op/.config/tarvok/");
    p = AppPaths::resolve(exe, env({{"HOME", home}, {"XDG_CONFIG_HOME", "rel/cfg"}}), writable(false));
    EXPECT_EQ(p.programDir, "/home/op/.config/tarvok/");

    // An installed program never writes beside itself, even as root.
    p = AppPaths::resolve("/usr/bin/tarvok", env({{"HOME", "/root"}}), writable(true));
    EXPECT_EQ(p.source, AppPaths::Source::UserFolder);
    EXPECT_EQ(p.iniPath, "/root/.config/tarvok/tarvok.ini");

    // TARVOK_HOME wins over both.
    p = AppPaths::resolve("/usr/bin/tarvok", env({{"HOME", home}, {"TARVOK_HOME", "/srv/tv//"}}), writable(false));
    EXPECT_EQ(p.source, AppPaths::Source::Environment);
    EXPECT_EQ(p.programDir, "/srv/tv/");
    EXPECT_EQ(p.iniPath, "/srv/tv/tarvok.ini");
    p = AppPaths::resolve(exe, env({{"TARVOK_HOME", "here"}}), writable(true));
    EXPECT_EQ(p.programDir, QDir::current().absoluteFilePath("here") + "/");
    // An empty TARVOK_HOME counts as unset.
    p = AppPaths::resolve(exe, env({{"TARVOK_HOME", ""}}), writable(true));
    EXPECT_EQ(p.source, AppPaths::Source::ExecutableFolder);
}

TEST(AppPaths, RealWritabilityCheck)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(isWritableFolder(dir.path()));
    EXPECT_FALSE(isWritableFolder(dir.filePath("missing")));
    const AppPaths p = AppPaths::resolve(dir.filePath("tarvok"), env({{"HOME", "/nowhere"}}));
    EXPECT_EQ(p.programDir, dir.path() + "/");
}

TEST(AppPaths, CurrentCreatesTheNamedFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("a/b");
    const QByteArray saved = qgetenv("TARVOK_HOME");
    const bool had = qEnvironmentVariableIsSet("TARVOK_HOME");
    qputenv("TARVOK_HOME", target.toLocal8Bit());
    // Whatever the umask, the folders made are the user's alone.
    const mode_t mask = ::umask(0);
    const AppPaths p = AppPaths::current();
    ::umask(mask);
    if (had)
        qputenv("TARVOK_HOME", saved);
    else
        qunsetenv("TARVOK_HOME");

    EXPECT_EQ(p.programDir, target + "/");
    EXPECT_TRUE(QFileInfo(target).isDir());
    for (const QString& made : {dir.filePath("a"), target}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(made).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode_t(0700)) << made.toStdString();
    }
    EXPECT_EQ(QFileInfo(p.iniPath).fileName(), iniFileNameFor(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
}
