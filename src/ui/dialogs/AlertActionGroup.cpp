#include "ui/dialogs/AlertActionGroup.h"

#include "ui/dialogs/DialogControls.h"

#include <QGridLayout>
#include <QHBoxLayout>

namespace tarvok {

using namespace dialog;

AlertActionGroup::AlertActionGroup(QWidget* page, const Names& n) : QObject(page)
{
    soundRow = new QHBoxLayout;
    chkWav = checkBox(page, n.wav, QStringLiteral("音を鳴らす"));
    edtWavFile = edit(page, n.wavFile);
    btnWavOpen = browseButton(page, n.wavOpen);
    btnPlaySound = playButton(page, n.playSound);
    soundRow->addWidget(chkWav);
    soundRow->addWidget(edtWavFile, 1);
    soundRow->addWidget(btnWavOpen);
    soundRow->addWidget(btnPlaySound);

    chkCommand = checkBox(page, n.command, QStringLiteral("外部プログラムを起動"));
    programGrid = new QGridLayout;
    programGrid->setColumnMinimumWidth(0, indent(chkCommand));
    labels[0] = label(page, n.labels[0], QStringLiteral("プログラム："));
    labels[1] = label(page, n.labels[1], QStringLiteral("オプション："));
    labels[2] = label(page, n.labels[2], QStringLiteral("作業ディレクトリ："));
    edtProgram = edit(page, n.program);
    btnProgramOpen = browseButton(page, n.programOpen);
    edtOption = edit(page, n.option);
    edtWorkDir = edit(page, n.workDir);
    programGrid->addWidget(labels[0], 0, 1);
    programGrid->addWidget(edtProgram, 0, 2);
    programGrid->addWidget(btnProgramOpen, 0, 3);
    programGrid->addWidget(labels[1], 1, 1);
    programGrid->addWidget(edtOption, 1, 2);
    programGrid->addWidget(labels[2], 2, 1);
    programGrid->addWidget(edtWorkDir, 2, 2);
    programGrid->setColumnStretch(2, 1);
}

void AlertActionGroup::load(const Values& v)
{
    chkWav->setChecked(v.sound);
    edtWavFile->setText(v.soundFile);
    chkCommand->setChecked(v.exec);
    edtProgram->setText(v.program);
    edtOption->setText(v.option);
    edtWorkDir->setText(v.workDir);
}

AlertActionGroup::Values AlertActionGroup::values() const
{
    return {chkWav->isChecked(), edtWavFile->text(), chkCommand->isChecked(),
            edtProgram->text(),  edtOption->text(),  edtWorkDir->text()};
}

void AlertActionGroup::wavClick()
{
    const bool on = chkWav->isChecked();
    edtWavFile->setEnabled(on);
    btnWavOpen->setEnabled(on);
    btnPlaySound->setEnabled(on);
    if (on)
        focusIfPossible(edtWavFile);
}

void AlertActionGroup::commandClick()
{
    const bool on = chkCommand->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(labels[0]), static_cast<QWidget*>(labels[1]),
                       static_cast<QWidget*>(labels[2]), static_cast<QWidget*>(edtProgram),
                       static_cast<QWidget*>(edtOption), static_cast<QWidget*>(edtWorkDir),
                       static_cast<QWidget*>(btnProgramOpen)})
        w->setEnabled(on);
    if (on)
        focusIfPossible(edtProgram);
}

} // namespace tarvok
