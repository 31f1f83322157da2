// A ping run through a real engine over the fake network, with a manual
// clock and a recording window: what the run tests share.
#pragma once

#include "support/FakeIcmp.h"
#include "FakeRunView.h"

#include "run/RunController.h"

namespace tarvok::test {

struct RunRig {
    ManualClock clock;
    FakeTransport* net = new FakeTransport(clock);
    FakeResolver* dns = new FakeResolver;
    TKtICMP engine{std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns), clock};
    FakeRunView view;
    RecordingHooks hooks;
    Preferences prefs;
    RunController ctl{engine, view, &hooks, prefs, clock};
    std::vector<bool> finished;
    int commandModeClears = 0;
    qint64 finishedAt = -1;

    RunRig()
    {
        QObject::connect(&ctl, &RunController::runFinished, [this](bool broken) {
            finished.push_back(broken);
            finishedAt = clock.monotonicMs();
        });
        QObject::connect(&ctl, &RunController::commandModeCleared, [this] { ++commandModeClears; });
    }
    void run(qint64 ms) { advance(clock, ms); }
    QString cell(int row, int column) { return ctl.resultModel().text(row, column); }
};

} // namespace tarvok::test
