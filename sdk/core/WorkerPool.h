// A fixed set of worker threads that run jobs handed to them, for work that
// is a pure function of its own bytes (compressing or decoding a run of
// blocks). A job touches only its own members; whoever submits it waits for
// it before reading them. Nothing throws out of the pool: when no thread can
// be started, Submit runs the job on the calling thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vlt {

class WorkerPool {
public:
    class Job {
    public:
        virtual ~Job() = default;
        virtual void Run() = 0;

    private:
        friend class WorkerPool;
        // Set (release) once Run has returned; whoever sees it set (acquire)
        // may read what Run wrote.
        std::atomic<bool> done_{false};
    };

    // Starts up to threads workers (none for 0: every job then runs on the
    // submitting thread). The thread that waits for a job works too, so a
    // run on n processors wants n - 1 workers.
    explicit WorkerPool(unsigned threads);
    // Runs what is queued still, then stops and joins the workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }
    void Submit(const std::shared_ptr<Job>& job);
    // Returns once job has run: a job that no worker has taken yet runs on
    // the calling thread, and while a worker runs it the calling thread runs
    // the jobs queued after it rather than only wait.
    void Wait(Job& job);
    // Whether job has run (no lock taken).
    bool Done(const Job& job) const { return job.done_.load(std::memory_order_acquire); }

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The number of processors this process may run on (its affinity mask), at
// least 1.
unsigned UsableProcessors();

// How many threads the SDK's work may use (IStuffVLT::SetJobs sets it): 1,
// the default, keeps everything on the calling thread; 0 is every processor
// the process may use.
void SetThreadBudget(unsigned threads);
// That number, with 0 resolved: at least 1.
unsigned ThreadBudget();

}  // namespace vlt
