#pragma once
// A few worker threads for blocking look-ups (getaddrinfo, getnameinfo).
// A look-up abandoned while a silent name server keeps it waiting holds its
// worker until the system resolver gives up; the pool never grows beyond its
// limit for that, later jobs queue behind, and jobs cancelled before they
// start are dropped without running. Nothing ever waits for a worker: the
// pool's destruction (or the program's end) leaves a busy worker to finish
// into nothing.

#include <atomic>
#include <functional>
#include <memory>

namespace tarvok {

class LookupPool {
public:
    // A job's cancellation mark: once set, a job that has not started never
    // runs.
    using Cancel = std::shared_ptr<std::atomic<bool>>;

    explicit LookupPool(int maxThreads);
    ~LookupPool();
    LookupPool(const LookupPool&) = delete;
    LookupPool& operator=(const LookupPool&) = delete;

    // The pool of the name look-ups, shared by every resolver of the process.
    static LookupPool& shared();

    // Queues a job; false when no worker could be started and none exists.
    bool submit(std::function<void()> job, Cancel cancel);

    // Workers alive now, those running a job, and jobs waiting for one.
    int threads() const;
    int busy() const;
    int queued() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace tarvok
