#pragma once

#include <string>

namespace kiv::app {

// One running copy per user: an exclusive flock on a file in the user's runtime folder. The
// kernel drops the lock when the holder exits, so a crashed copy never leaves it stuck.
class SingleInstance {
  public:
    enum class State { First, AnotherRunning, Unknown };

    explicit SingleInstance(std::string lockPath = DefaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock if it is free. Unknown when the lock file cannot be opened at all.
    State Acquire();

    static std::string DefaultLockPath();

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace kiv::app
