#include "ui/dialogs/KtBrowseFolderDlg.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace tarvok {

bool TKtBrowseFolderDlg::Execute(QWidget* parent)
{
    // Qt's own (non-native) file dialog embedded in a frame of ours, so that
    // the prompt and the status line can stand above and below it.
    QDialog frame(parent);
    frame.setObjectName(QStringLiteral("BrowseFolderDlg"));
    frame.setWindowTitle(Caption);
    frame.setWindowFlags(frame.windowFlags() | Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(&frame);

    QString prompt = TextLine1;
    if (!TextLine2.isEmpty())
        prompt += QLatin1Char('\n') + TextLine2;
    auto* promptLabel = new QLabel(prompt, &frame);
    promptLabel->setObjectName(QStringLiteral("lblPrompt"));
    promptLabel->setVisible(!prompt.isEmpty());
    layout->addWidget(promptLabel);

    auto* status = new QLabel(&frame);
    status->setObjectName(QStringLiteral("lblSelectDir"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status->setVisible(ShowSelectDir);

    auto* picker = new QFileDialog(&frame);
    picker->setWindowFlags(Qt::Widget);
    picker->setOption(QFileDialog::DontUseNativeDialog, true);
    picker->setOption(QFileDialog::ShowDirsOnly, true);
    picker->setFileMode(QFileDialog::Directory);
    picker->setAcceptMode(QFileDialog::AcceptOpen);
    picker->setSizeGripEnabled(false);
    if (!Directory.isEmpty()) {
        const QFileInfo start(Directory);
        if (start.isDir()) {
            // Open the parent with the folder itself highlighted.
            QDir up = start.absoluteDir();
            picker->setDirectory(start.isRoot() ? start.absoluteFilePath() : up.absolutePath());
            if (!start.isRoot())
                picker->selectFile(start.fileName());
        }
        status->setText(Directory);
    }
    layout->addWidget(picker, 1);
    layout->addWidget(status);

    QObject::connect(picker, &QFileDialog::currentChanged, status, [status](const QString& path) {
        status->setText(QDir::toNativeSeparators(path));
    });
    QObject::connect(picker, &QFileDialog::accepted, &frame, &QDialog::accept);
    QObject::connect(picker, &QFileDialog::rejected, &frame, &QDialog::reject);

    frame.resize(frame.sizeHint().expandedTo(QSize(560, 420)));
    if (QScreen* screen = parent ? parent->screen() : frame.screen()) {
        QRect r = frame.frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        frame.move(r.topLeft());
    }

    if (frame.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = picker->selectedFiles();
    if (chosen.isEmpty())
        return false;
    QString dir = QDir::cleanPath(chosen.first());
    Directory = dir;
    return true;
}

} // namespace tarvok
