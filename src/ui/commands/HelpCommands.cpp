#include "ui/commands/HelpCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace tarvok {

QString HomePageAddress()
{
    return HomePageAddress(QCoreApplication::applicationDirPath());
}

QString HomePageAddress(const QString& programDir)
{
    const QString configured = QStringLiteral(TARVOK_HOME_PAGE);
    if (!configured.isEmpty())
        return configured;
    const QString besideProgram = QDir::cleanPath(programDir + QStringLiteral("/../share/doc/tarvok"));
    const QString docDir = QStringLiteral(TARVOK_DOC_DIR);
    for (const QString& file : {besideProgram + QStringLiteral("/index.html"),
                                docDir + QStringLiteral("/index.html"), docDir + QStringLiteral("/index.md"),
                                QStringLiteral(TARVOK_SOURCE_DIR "/docs/index.md"),
                                QStringLiteral(TARVOK_SOURCE_DIR "/README.md")}) {
        if (QFileInfo(file).isFile())
            return QUrl::fromLocalFile(file).toString();
    }
    return {};
}

} // namespace tarvok
