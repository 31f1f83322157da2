#pragma once
// Where the program keeps the files that belong beside the executable: the
// settings INI file, the default target file "Tarvok.def" and the fallback
// folder of the log files.
//
// The program folder is, in this order of precedence:
//  1. the folder named by the environment variable TARVOK_HOME;
//  2. the executable's folder, when it can be written and is not a system
//     folder under /usr;
//  3. a per-user folder: $XDG_CONFIG_HOME/tarvok/ (~/.config/tarvok/ when
//     XDG_CONFIG_HOME is unset, empty or relative).
// The INI file is named after the executable with its extension replaced by
// ".ini" (".ini" appended when it has none): "tarvok" uses "tarvok.ini".

#include <QProcessEnvironment>
#include <QString>

#include <functional>

namespace tarvok {

struct AppPaths {
    enum class Source { Environment, ExecutableFolder, UserFolder };

    QString programDir;          // absolute, always ending in "/"
    QString iniPath;             // programDir + <executable name>.ini
    QString defaultTargetFile;   // programDir + "Tarvok.def"
    Source source = Source::ExecutableFolder;

    // Resolves the paths for the running program and creates the program
    // folder when it does not exist yet (the per-user folder normally).
    static AppPaths current();

    // The rules above for a given executable path and environment, with the
    // writability test injectable for tests. Creates nothing.
    static AppPaths resolve(const QString& executablePath, const QProcessEnvironment& env,
                            const std::function<bool(const QString& dir)>& canWrite = {});
};

// "<name without its last extension>.ini"; "tarvok" -> "tarvok.ini".
QString iniFileNameFor(const QString& executableFileName);

// True when the folder exists and this process may create files in it.
bool isWritableFolder(const QString& dir);

// Creates the folder (and its parents) when missing, each one mode 0700
// whatever the umask. Returns false when it cannot be created.
bool ensureFolder(const QString& dir);

} // namespace tarvok
