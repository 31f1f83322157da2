#include "monitor/ShellEx.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace tarvok {

QList<CommandArgument> SplitCommandLine(const QString& parameters)
{
    QList<CommandArgument> args;
    CommandArgument current;
    bool inArgument = false;
    bool inQuotes = false;
    const qsizetype n = parameters.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = parameters.at(i);
        if (inQuotes) {
            if (c == u'"') {
                if (i + 1 < n && parameters.at(i + 1) == u'"') {
                    current.text += u'"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                current.text += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t') {
            if (inArgument) {
                args.append(current);
                current = {};
                inArgument = false;
            }
            continue;
        }
        inArgument = true;
        if (c == u'"') {
            inQuotes = true;
            current.quoted = true;
        } else {
            current.text += c;
        }
    }
    if (inArgument)
        args.append(current);
    return args;
}

namespace {

// Replaces every occurrence of key in text by value; the search goes on after
// the inserted value, so the value is never searched again in this pass.
QString replaceAll(const QString& text, QStringView key, const QString& value)
{
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(key, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        out += QStringView(text).mid(from, at - from);
        out += value;
        from = at + key.size();
    }
    out += QStringView(text).mid(from);
    return out;
}

bool looksLikeUrl(const QString& s)
{
    // A scheme of two or more letters followed by ':' (http:, mailto:, file:).
    static const QRegularExpression re(QStringLiteral("^[A-Za-z][A-Za-z0-9+.\\-]+:"));
    return re.match(s).hasMatch();
}

} // namespace

QString ReplacePlaceholders(const QString& text, const PlaceholderValues& values)
{
    QString s = replaceAll(text, u"%n", values.target);
    s = replaceAll(s, u"%d", values.dateTime);
    s = replaceAll(s, u"%s", values.message);
    s = replaceAll(s, u"%e", values.comment);
    return s;
}

QStringList BuildCommandArguments(const QString& parameters, const PlaceholderValues& values)
{
    QStringList out;
    for (const CommandArgument& a : SplitCommandLine(parameters)) {
        QString filled = ReplacePlaceholders(a.text, values);
        if (filled.isEmpty() && !a.quoted)
            continue;
        out.append(std::move(filled));
    }
    return out;
}

ShellLauncher ShellLauncher::system()
{
    ShellLauncher l;
    l.startProgram = [](const QString& program, const QStringList& args, const QString& workDir) {
        return QProcess::startDetached(program, args, workDir);
    };
    l.openDocument = [](const QString& url) { return QDesktopServices::openUrl(QUrl(url)); };
    return l;
}

void TKtShellEx::start(const QString& fileName, const QStringList& arguments, const QString& directory)
{
    static const ShellLauncher launcher = ShellLauncher::system();
    start(fileName, arguments, directory, launcher);
}

void TKtShellEx::start(const QString& fileName, const QStringList& arguments, const QString& directory,
                       const ShellLauncher& launcher)
{
    if (fileName.isEmpty())
        return;
    if (looksLikeUrl(fileName)) {
        if (launcher.openDocument)
            launcher.openDocument(fileName);
        return;
    }

    // A relative name is looked for in the working folder first, then (a bare
    // name) on PATH, then relative to the current folder.
    QString path;
    const bool relative = QFileInfo(fileName).isRelative();
    if (relative && !directory.isEmpty() && QFileInfo::exists(QDir(directory).filePath(fileName)))
        path = QDir(directory).filePath(fileName);
    else if (relative && !fileName.contains(u'/'))
        path = QStandardPaths::findExecutable(fileName);
    if (path.isEmpty() && QFileInfo::exists(fileName))
        path = fileName;
    if (path.isEmpty())
        return; // missing: nothing starts, nothing is reported

    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable()) {
        if (launcher.startProgram)
            launcher.startProgram(info.absoluteFilePath(), arguments, directory);
    } else if (launcher.openDocument) {
        launcher.openDocument(QUrl::fromLocalFile(info.absoluteFilePath()).toString());
    }
}

} // namespace tarvok
