// Tarvok: the program's entry point. Brings up the application and the echo
// engine, then the main window.

#include "base/Clock.h"
#include "icmp/KtIcmp.h"
#include "ui/Images.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvok"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvok"));

    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("VL PGothic"), QStringLiteral("sans-serif")});
    font.setPointSize(9);
    QApplication::setFont(font);
    QApplication::setWindowIcon(tarvok::listIcon(tarvok::imgTray));

    // Without ICMP sockets there is nothing the program could do.
    std::unique_ptr<tarvok::TKtICMP> engine;
    try {
        engine = std::make_unique<tarvok::TKtICMP>();
    } catch (const tarvok::EICMPError& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Tarvok"), e.message());
        return 1;
    }

    tarvok::TTarvokMain window(std::move(engine), tarvok::Clock::system());
    window.show();
    return app.exec();
}
