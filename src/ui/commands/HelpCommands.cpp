// ホームページへ and バージョン情報.

#include "ui/commands/HelpCommands.h"

#include "monitor/ShellEx.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/widgets/KtUrlLabel.h"
#include "ui/window/TarvokMain.h"

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

void TTarvokMain::W1Click()
{
    // The desktop opens it on its own; a failure is not reported.
    const QString address = HomePageAddress();
    if (address.isEmpty())
        return;
    if (openDocument)
        openDocument(address);
    else
        TKtShellEx::open(address);
}

void TTarvokMain::mnuVersionClick()
{
    // Its three commands are disabled while it is open: one box at a time.
    if (!mnuVersion->isEnabled())
        return;
    auto* box = new TAboutBox(this, {mnuVersion, pmnuVersion, btnVersion}, HomePageAddress());
    if (openDocument)
        box->KtUrlLabel2->Opener = openDocument;
    box->show();
}

} // namespace tarvok
