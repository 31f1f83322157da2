#include "icmp/LookupPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace tarvok {

struct LookupPool::State {
    struct Job {
        std::function<void()> run;
        Cancel cancel;
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> queue;
    int maxThreads = 1;
    int threads = 0;
    int idle = 0;
    int running = 0; // workers inside a job; a worker still starting is neither idle nor running
    bool closing = false;
};

namespace {

void work(const std::shared_ptr<LookupPool::State>& s)
{
    std::unique_lock lock(s->mutex);
    for (;;) {
        ++s->idle;
        s->wake.wait(lock, [&] { return s->closing || !s->queue.empty(); });
        --s->idle;
        if (s->closing)
            break;
        LookupPool::State::Job job = std::move(s->queue.front());
        s->queue.pop_front();
        if (job.cancel && job.cancel->load())
            continue;
        ++s->running;
        lock.unlock();
        job.run();
        job = {};
        lock.lock();
        --s->running;
    }
    --s->threads;
}

} // namespace

LookupPool::LookupPool(int maxThreads) : state_(std::make_shared<State>())
{
    state_->maxThreads = maxThreads > 0 ? maxThreads : 1;
}

LookupPool::~LookupPool()
{
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->queue.clear();
    state_->wake.notify_all();
}

LookupPool& LookupPool::shared()
{
    // Never destroyed: a program that ends does not wait for its look-ups.
    static LookupPool* pool = new LookupPool(4);
    return *pool;
}

bool LookupPool::submit(std::function<void()> job, Cancel cancel)
{
    std::lock_guard lock(state_->mutex);
    // One more worker while the jobs waiting outnumber the idle workers.
    if (int(state_->queue.size()) + 1 > state_->idle && state_->threads < state_->maxThreads) {
        try {
            std::thread([s = state_] { work(s); }).detach();
            ++state_->threads;
        } catch (const std::system_error&) {
            if (state_->threads == 0)
                return false; // nobody would ever run it
        }
    }
    state_->queue.push_back({std::move(job), std::move(cancel)});
    state_->wake.notify_one();
    return true;
}

int LookupPool::threads() const
{
    std::lock_guard lock(state_->mutex);
    return state_->threads;
}

int LookupPool::busy() const
{
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

int LookupPool::queued() const
{
    std::lock_guard lock(state_->mutex);
    return int(state_->queue.size());
}

} // namespace tarvok
