#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvok"));
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("Tarvok"));
    w.resize(532, 443);
    w.show();
    return app.exec();
}
