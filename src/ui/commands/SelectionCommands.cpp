#include "ui/commands/SelectionCommands.h"

#include "base/Texts.h"
#include "icmp/KtIcmp.h"
#include "run/AddressRange.h"
#include "run/SelectionRuns.h"
#include "run/TraceRunController.h"
#include "ui/window/TarvokMain.h"

#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QScreen>
#include <QTableView>

namespace tarvok {

SelectionCommands::Dialogs SelectionCommands::standardDialogs()
{
    Dialogs d;
    d.exec = [](QDialog& dialog) {
        const QScreen* screen = dialog.parentWidget() ? dialog.parentWidget()->screen() : dialog.screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect r(QPoint(), dialog.size());
            r.moveCenter(screen->availableGeometry().center());
            dialog.move(r.topLeft());
        }
        return dialog.exec();
    };
    d.ask = TfrmSelectTerm::standardAskBox();
    d.error = TfrmIpToIp::standardErrorBox();
    return d;
}

SelectionCommands::SelectionCommands(TTarvokMain& window, QObject* parent)
    : QObject(parent), w_(window), dialogs_(standardDialogs())
{
    setObjectName(QStringLiteral("SelectionCommands"));
}

SelectionCommands::~SelectionCommands() = default;

bool SelectionCommands::busy() const
{
    return w_.run().Busy() || w_.KtICMP1->Busy();
}

void SelectionCommands::SelectTargets()
{
    RunController& run = w_.run();
    TargetList& targets = run.targetList();
    ParseTargetList(w_.targetLines(), targets);
    if (targets.isEmpty()) {
        w_.setStatusText(texts::NoTargetAddress());
        w_.showTab(MainTab::Memo);
        w_.startup.commandMode = false;
        return;
    }
    TfrmSelectTerm dialog(&w_);
    dialog.setAskBox(dialogs_.ask);
    dialog.Fill(targets);
    if (dialogs_.exec(dialog) == QDialog::Accepted)
        KeepChosenTargets(targets, dialog.chosenRows());
    else
        targets.clear();
}

bool SelectionCommands::TargetsFromStatistics()
{
    std::vector<int> rows;
    if (QItemSelectionModel* sel = w_.ListView2->selectionModel())
        for (const QModelIndex& i : sel->selectedRows())
            rows.push_back(i.row());
    return tarvok::TargetsFromStatistics(*w_.ListView2->model(), rows, w_.run().targetList());
}

void SelectionCommands::mnuPingAndSelectClick()
{
    if (busy())
        return;
    SelectTargets();
    RunController& run = w_.run();
    run.BuildRunSchedule();
    if (!run.schedule().isEmpty())
        run.ExecutePingRun();
}

void SelectionCommands::mnuTraceRouteAndSelectClick()
{
    if (busy())
        return;
    SelectTargets();
    if (w_.run().targetList().isEmpty())
        return;
    // The chosen targets, not the editor's: the skeleton is built from the
    // TargetList as it stands.
    w_.trace().BuildTraceSkeleton();
    w_.trace().RunTraceRoute();
}

void SelectionCommands::mnuIpToIpClick()
{
    if (busy())
        return;
    AddressRange range;
    {
        TfrmIpToIp dialog(iniPath_, &w_);
        dialog.setErrorBox(dialogs_.error);
        if (dialogs_.exec(dialog) != QDialog::Accepted)
            return;
        range = dialog.range();
    }
    RunController& run = w_.run();
    FillRangeTargets(run.targetList(), range);
    run.BuildRunSchedule();
    if (!run.schedule().isEmpty())
        run.ExecutePingRun();
}

void SelectionCommands::acTOUKEI_PingExecuteExecute()
{
    // The action is disabled during a run; a trigger that slips past its
    // menu's enabling starts nothing either.
    if (busy())
        return;
    // Without a selected row the targets of an earlier run are not run again.
    if (!TargetsFromStatistics())
        return;
    RunController& run = w_.run();
    if (run.targetList().isEmpty())
        return;
    run.BuildRunSchedule();
    run.ExecutePingRun();
}

void SelectionCommands::acTOUKEI_TracerouteExecuteExecute()
{
    if (busy() || !TargetsFromStatistics() || w_.run().targetList().isEmpty())
        return;
    // The statistics list stays as it is.
    w_.trace().BuildTraceSkeleton();
    w_.trace().RunTraceRoute();
}

} // namespace tarvok
