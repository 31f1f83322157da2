#pragma once
// Starting external programs for alerts and links, and building their
// argument lists from the operator's parameter text.
//
// The parameter text never passes through a shell. It is first split into
// arguments (SplitCommandLine), then the placeholders are replaced inside
// each argument (ReplacePlaceholders), and the program is started with that
// argument list. A target or comment holding blanks, quotes, ";", "$(...)" or
// "`" therefore reaches the program as the text of one argument and runs
// nothing.

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvok {

// Splits a parameter text into arguments, the way a shell user expects
// without any of the shell's expansions:
//  - blanks (space, tab) separate arguments; runs of blanks count as one;
//  - a double quote starts a quoted part, in which blanks are kept; the next
//    double quote ends it. Quoted and unquoted parts next to each other form
//    one argument (ab"c d"e -> abc de);
//  - inside a quoted part, two double quotes in a row stand for one literal
//    double quote ("say ""hi""" -> say "hi");
//  - backslashes have no special meaning (a\b stays a\b);
//  - a quoted part left open runs to the end of the text;
//  - "" on its own gives an empty argument.
struct CommandArgument {
    QString text;
    bool quoted = false; // some part of it was written in double quotes
};
QList<CommandArgument> SplitCommandLine(const QString& parameters);

// The values of the placeholders "%n", "%d", "%s" and "%e".
struct PlaceholderValues {
    QString target;   // %n: the target as written in the target list
    QString dateTime; // %d: "yyyy/mm/dd hh:nn:ss"
    QString message;  // %s
    QString comment;  // %e: empty when the target has none
};

// Replaces "%n", "%d", "%s", "%e" in that order, each pass over the result of
// the previous one. Within a pass the search is case-sensitive and goes on
// after the inserted value, so a value holding its own placeholder is
// inserted as it stands; a later placeholder inside an earlier value is
// replaced by the later pass. No quoting is added.
QString ReplacePlaceholders(const QString& text, const PlaceholderValues& values);

// Splits the parameter text, then fills the placeholders of every argument.
// An unquoted argument that is empty after the replacement (a lone %e of a
// target without comment) is dropped, as a shell drops an empty unquoted
// expansion; a quoted one stays as an empty argument.
QStringList BuildCommandArguments(const QString& parameters, const PlaceholderValues& values);

// How a program is started or a document opened. The default performs the
// real thing; tests install their own.
struct ShellLauncher {
    // Starts an executable file detached, with the given arguments and
    // working folder (empty: the program's current folder). Returns whether
    // it started.
    std::function<bool(const QString& program, const QStringList& args, const QString& workDir)> startProgram;
    // Opens a document, folder or URL with the desktop's default application.
    std::function<bool(const QString& urlOrPath)> openDocument;

    static ShellLauncher system();
};

// Starts an external program and never waits for it. FileName is an
// executable (a path, or a name found on PATH), or anything else the desktop
// can open by default: a document, a folder or a URL; arguments are passed
// to an executable only. An empty FileName does nothing. Nothing is reported:
// a program that is missing or fails to start is silently ignored.
class TKtShellEx {
public:
    static void start(const QString& fileName, const QStringList& arguments, const QString& directory);
    static void start(const QString& fileName, const QStringList& arguments, const QString& directory,
                      const ShellLauncher& launcher);
    // Opens a URL or file by its default action (links of the version box).
    static void open(const QString& fileName) { start(fileName, {}, {}); }
};

} // namespace tarvok
