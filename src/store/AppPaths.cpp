#include "store/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvok {

namespace {

QString withSlash(const QString& dir)
{
    QString d = QDir::cleanPath(QDir(dir).absolutePath());
    if (!d.endsWith(u'/'))
        d += u'/';
    return d;
}

bool isSystemFolder(const QString& dir)
{
    const QString d = withSlash(dir);
    return d.startsWith(QStringLiteral("/usr/"));
}

} // namespace

QString iniFileNameFor(const QString& executableFileName)
{
    const qsizetype dot = executableFileName.lastIndexOf(u'.');
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0)
        return executableFileName + QStringLiteral(".ini");
    return executableFileName.left(dot) + QStringLiteral(".ini");
}

bool isWritableFolder(const QString& dir)
{
    const QFileInfo fi(dir);
    if (!fi.isDir())
        return false;
    return ::access(QFile::encodeName(fi.absoluteFilePath()).constData(), W_OK | X_OK) == 0;
}

bool ensureFolder(const QString& dir)
{
    if (QFileInfo(dir).isDir())
        return true;
    // Every folder made here is the user's alone, whatever the umask: the
    // settings name programs that alerts start.
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(dir).absolutePath()));
    for (qsizetype at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path.at(at) != '/')
            continue;
        const QByteArray part = path.left(at);
        if (::mkdir(part.constData(), 0700) == 0)
            ::chmod(part.constData(), 0700);
        else if (errno != EEXIST)
            return false;
    }
    return QFileInfo(dir).isDir();
}

AppPaths AppPaths::resolve(const QString& executablePath, const QProcessEnvironment& env,
                           const std::function<bool(const QString&)>& canWrite)
{
    const QFileInfo exe(executablePath);
    const QString exeDir = exe.absolutePath();
    const auto writable = canWrite ? canWrite : isWritableFolder;

    AppPaths p;
    const QString home = env.value(QStringLiteral("TARVOK_HOME"));
    if (!home.isEmpty()) {
        p.source = Source::Environment;
        p.programDir = withSlash(home);
    } else if (writable(exeDir) && !isSystemFolder(exeDir)) {
        p.source = Source::ExecutableFolder;
        p.programDir = withSlash(exeDir);
    } else {
        p.source = Source::UserFolder;
        QString config = env.value(QStringLiteral("XDG_CONFIG_HOME"));
        if (config.isEmpty() || QDir::isRelativePath(config))
            config = env.value(QStringLiteral("HOME"), QDir::homePath()) + QStringLiteral("/.config");
        p.programDir = withSlash(config + QStringLiteral("/tarvok"));
    }
    const QString exeName = exe.fileName().isEmpty() ? QStringLiteral("tarvok") : exe.fileName();
    p.iniPath = p.programDir + iniFileNameFor(exeName);
    p.defaultTargetFile = p.programDir + QStringLiteral("Tarvok.def");
    return p;
}

AppPaths AppPaths::current()
{
    AppPaths p = resolve(QCoreApplication::applicationFilePath(), QProcessEnvironment::systemEnvironment());
    if (p.source != Source::ExecutableFolder)
        ensureFolder(p.programDir);
    return p;
}

} // namespace tarvok
