#pragma once
// MetricsRegistry: what the metrics endpoint tells a scraper, kept per target
// beside the runs and written out in the Prometheus text format or in
// OpenMetrics.
//
// It listens to the run controller as an EchoObserver. When a run starts it
// finds a slot for every target of the run's list by the target's text
// (creating the slots of new targets then), so that an echo only adds to
// numbers in place: no echo allocates, unless its target's address changes.
// Slots live as long as the registry: the counters of a target never go
// backwards, also when a later run or another list brings it back.
//
// Series, labelled target="<as written>",address="<latest address>":
//   tarvok_echoes_total{result="ok"|"ng"}      counter
//   tarvok_echo_rtt_seconds                      histogram, 100 us .. 10 s
//   tarvok_target_up                             gauge, 1 when the latest echo was OK
//   tarvok_target_last_echo_timestamp_seconds    gauge
// and, without those labels, tarvok_passes_total (counter) and
// tarvok_build_info{version} (always 1).
//
// A target appears once it has had an echo. The gauges are written for the
// targets of the latest run's list only; the counters of every target ever
// seen stay. A target written as a dotted IPv4 address has that address as
// its address label whatever answers (a router's error, or nothing); a host
// name has the address of its latest echo that had one, so that an outage
// shows on the same series.

#include "run/EchoObserver.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace tarvok {

class TargetList;

enum class ExpositionFormat { Prometheus, OpenMetrics };

class MetricsRegistry : public EchoObserver {
public:
    // Upper bounds of the round-trip buckets, in microseconds (+Inf follows).
    static constexpr std::array<qint64, 16> BucketBoundsUs = {
        100, 250, 500, 1'000, 2'500, 5'000, 10'000, 25'000, 50'000, 100'000,
        250'000, 500'000, 1'000'000, 2'500'000, 5'000'000, 10'000'000};

    // `targets` gives the list a run works on (read when a run starts); it
    // may return null. `version` goes into tarvok_build_info.
    explicit MetricsRegistry(std::function<const TargetList*()> targets = {}, QString version = QString());

    void setTargetSource(std::function<const TargetList*()> targets) { targets_ = std::move(targets); }

    // EchoObserver
    void runStarted() override;
    void echoJudged(const JudgedEcho& echo) override;
    void passEnded() override;

    // The exposition, appended to `out`.
    void render(ExpositionFormat format, QByteArray& out) const;
    QByteArray render(ExpositionFormat format) const;

    // What a scrape writes out, copied (the numbers; the texts are shared),
    // so that the text can be written on another thread while the runs go
    // on. Cheap next to writing it out.
    struct Snapshot;
    std::shared_ptr<const Snapshot> snapshot() const;
    static void render(const Snapshot& snapshot, ExpositionFormat format, QByteArray& out);

    // The format a scraper asks for with its Accept header: OpenMetrics when
    // it names application/openmetrics-text (with a non-zero q), else the
    // text format.
    static ExpositionFormat formatForAccept(const QByteArray& accept);
    static QByteArray contentType(ExpositionFormat format);
    // A label value as the exposition writes it: UTF-8, with backslash,
    // double quote and line feed escaped.
    static QByteArray escapeLabelValue(const QString& value);

    quint64 passes() const { return passes_; }
    int targetCount() const { return static_cast<int>(slots_.size()); }

    struct Slot {
        QString target;
        QString address;
        // target="...",address="..." as written out: built when first written
        // out after a change (empty until then), not for every listed target
        // when a run starts.
        mutable QByteArray labels;
        quint64 ok = 0;
        quint64 ng = 0;
        std::array<quint64, BucketBoundsUs.size() + 1> buckets{}; // not cumulative; last: above 10 s
        quint64 rttCount = 0;
        quint64 rttSumUs = 0;
        qint64 lastEchoUs = 0;
        bool up = false;
        bool seen = false;   // has had an echo
        bool listed = false; // in the latest run's list
        bool literal = false; // the target is an address: the label stays
    };

private:
    static void renderSlots(const std::vector<Slot>& targets, quint64 passes, const QByteArray& version,
                            ExpositionFormat f, QByteArray& out);

    int slotFor(const QString& target);
    static void setLabels(const Slot& slot);
    void fillLabels() const;

    std::function<const TargetList*()> targets_;
    QByteArray version_;
    std::vector<Slot> slots_;
    QHash<QString, int> byTarget_;
    std::vector<int> slotOfIndex_; // target index of the current run -> slot
    quint64 passes_ = 0;
};

struct MetricsRegistry::Snapshot {
    std::vector<Slot> seen; // the targets seen
    quint64 passes = 0;
    QByteArray version;
};

} // namespace tarvok
