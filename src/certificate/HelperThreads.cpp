#include "certificate/HelperThreads.h"

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <queue>
#include <thread>

namespace kiv::certificate {
namespace {

class Threads final : public HelperThreads {
  public:
    explicit Threads(int niceness) {
        for (std::size_t i = 0; i < kMost; ++i) {
            try {
                std::thread([this, niceness] {
                    // Linux gives each thread its own nice value; failing that, it runs as it is.
                    if (niceness != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), niceness);
                    Run();
                }).detach();
                ++started_;
            } catch (...) {
                break;  // fewer helpers; callers do the rest themselves
            }
        }
    }

    bool Post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        if (started_ == 0) return false;
        tasks_.push(std::move(task));
        ready_.notify_one();
        return true;
    }

    std::size_t Count() const override { return started_; }

  private:
    void Run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !tasks_.empty(); });
                task = std::move(tasks_.front());
                tasks_.pop();
            }
            task();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::queue<std::function<void()>> tasks_;
    std::size_t started_ = 0;
};

}  // namespace

HelperThreads& HelperThreads::Instance() {
    // Never destroyed: the threads may still wait on it while the process exits.
    static Threads* const instance = new Threads(0);
    return *instance;
}

HelperThreads& HelperThreads::Background() {
    static Threads* const instance = new Threads(10);
    return *instance;
}

}  // namespace kiv::certificate
