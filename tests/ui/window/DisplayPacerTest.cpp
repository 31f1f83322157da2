#include "ui/window/DisplayPacer.h"

#include "base/Clock.h"
#include "monitor/StatModel.h"
#include "run/ResultModel.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {
struct PacerRig {
    ManualClock clock;
    ResultModel results;
    StatModel stats;
    QWidget window;
    QLabel* label = new QLabel(&window);
    QTableView* view = new QTableView(&window);
    DisplayPacer pacer{clock, results, stats, label, view};

    PacerRig()
    {
        auto* l = new QVBoxLayout(&window);
        l->addWidget(view);
        l->addWidget(label);
        view->setModel(&results);
        window.show();
    }
    // Status text `text`, then the clock moves on until the panel shows it.
    qint64 msUntilShown(const QString& text)
    {
        pacer.setStatusText(text);
        qint64 waited = 0;
        for (clock.advance(0); label->text() != text && waited < 1000; clock.advance(1))
            ++waited;
        return waited;
    }
    // A frame that keeps the thread `ms` milliseconds before the event loop
    // gets round to the events it posted.
    void frameTaking(const QString& text, qint64 ms)
    {
        msUntilShown(text);
        clock.advance(ms);
        QCoreApplication::sendPostedEvents();
    }
};
} // namespace

// Frames come at most every FrameMs while they are cheap; frames that take
// long are spaced so that together they keep to their share of the thread,
// up to MaxFrameMs apart. Texts set between frames wait for the next one.
TEST(DisplayPacer, FramesAreSpacedByWhatTheyCost)
{
    PacerRig r;
    r.frameTaking(QStringLiteral("first"), 0);
    EXPECT_EQ(r.msUntilShown(QStringLiteral("cheap")), DisplayPacer::FrameMs);
    r.pacer.setStatusText(QStringLiteral("skipped"));
    EXPECT_EQ(r.label->text(), QStringLiteral("cheap"));

    // Frames of 5 ms: the mean cost climbs towards 5 ms, the spacing towards
    // 5 * FrameBudget.
    r.clock.advance(DisplayPacer::FrameMs);
    qint64 spacing = 0;
    for (int i = 0; i < 12; ++i) {
        r.frameTaking(QString::number(i), 5);
        spacing = r.msUntilShown(QStringLiteral("next %1").arg(i)) + 5;
        r.clock.advance(DisplayPacer::MaxFrameMs);
    }
    EXPECT_GT(spacing, DisplayPacer::FrameMs);
    EXPECT_LE(spacing, 5 * DisplayPacer::FrameBudget);
    EXPECT_GE(spacing, 5 * DisplayPacer::FrameBudget * 9 / 10);

    // Very slow frames: never further apart than MaxFrameMs.
    for (int i = 0; i < 12; ++i)
        r.frameTaking(QStringLiteral("slow %1").arg(i), 60);
    EXPECT_EQ(r.msUntilShown(QStringLiteral("last")) + 60, DisplayPacer::MaxFrameMs);
}
