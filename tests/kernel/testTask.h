// A task of its own for tests whose tasks own things (record locks): it runs the jobs it is
// given, in order, until it ends, and its end runs the task's delete hooks.
#ifndef TESTS_KERNEL_TESTTASK_H
#define TESTS_KERNEL_TESTTASK_H

#include <kernel/taskLib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class TestTask {
public:
    TestTask() : thread_([this] { loop(); }) {}
    ~TestTask() { end(); }
    template <typename F> auto run(F work)
    {
        auto job = std::make_shared<std::packaged_task<decltype(work())()>>(std::move(work));
        auto result = job->get_future();
        post([job] { (*job)(); });
        return result;
    }
    uintptr_t id()
    {
        return run([] { return taskIdCurrent()->taskId; }).get();
    }
    // The thread ends, and with it the task: its delete hooks run.
    void end()
    {
        post(nullptr);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void post(std::function<void()> job)
    {
        {
            const std::lock_guard guard(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }
    void loop()
    {
        for (;;) {
            std::unique_lock guard(mutex_);
            wake_.wait(guard, [this] { return !jobs_.empty(); });
            const std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            guard.unlock();
            if (!job) {
                return;
            }
            job();
        }
    }

    std::mutex mutex_; // guards jobs_
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_; // an empty job ends the task
    std::thread thread_;
};

#endif
