// The ヘルプ menu of the main window: ホームページへ and バージョン情報.

#include "monitor/ShellEx.h"
#include "ui/commands/HelpCommands.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/widgets/KtUrlLabel.h"
#include "ui/window/TarvokMain.h"

#include <QAction>

namespace tarvok {

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
