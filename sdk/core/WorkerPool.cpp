#include "core/WorkerPool.h"

#include <sched.h>

#include <system_error>

#include "core/Log.h"

namespace vlt {

WorkerPool::WorkerPool(unsigned threads) {
    if (threads < 1) return;
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error& e) {
            LogTag("WorkerPool").Warning("only %u of %u worker threads could be started: %s\n", i, threads, e.what());
            break;
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerPool::Submit(const std::shared_ptr<Job>& job) {
    if (!job) return;
    if (threads_.empty()) {
        job->Run();
        job->done_.store(true, std::memory_order_release);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(job);
    }
    queued_.notify_one();
}

void WorkerPool::Wait(Job& job) {
    if (Done(job)) return;
    std::unique_lock<std::mutex> lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->get() != &job) continue;
        std::shared_ptr<Job> mine = std::move(*it);
        queue_.erase(it);
        lock.unlock();
        mine->Run();
        mine->done_.store(true, std::memory_order_release);
        return;
    }
    // A worker has it: the calling thread takes the next queued jobs
    // meanwhile, so that no core idles while there is work.
    while (!Done(job)) {
        if (queue_.empty()) {
            finished_.wait(lock, [&] { return Done(job) || !queue_.empty(); });
            continue;
        }
        std::shared_ptr<Job> other = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        other->Run();
        other->done_.store(true, std::memory_order_release);
        other.reset();
        lock.lock();
    }
}

void WorkerPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and nothing left to run
        std::shared_ptr<Job> job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job->Run();
        job->done_.store(true, std::memory_order_release);
        job.reset();
        lock.lock();
        finished_.notify_all();
    }
}

unsigned UsableProcessors() {
    // Asked once: the answer does not change while the process runs, and
    // the call is made for every block.
    static const unsigned usable = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof set, &set) == 0) {
            const int n = CPU_COUNT(&set);
            if (n > 0) return static_cast<unsigned>(n);
        }
        const unsigned n = std::thread::hardware_concurrency();
        return n ? n : 1u;
    }();
    return usable;
}

namespace {
std::atomic<unsigned> g_budget{1};
}  // namespace

void SetThreadBudget(unsigned threads) { g_budget.store(threads); }

unsigned ThreadBudget() {
    const unsigned threads = g_budget.load();
    return threads ? threads : UsableProcessors();
}

}  // namespace vlt
