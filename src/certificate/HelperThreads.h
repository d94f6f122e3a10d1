#pragma once

#include <cstddef>
#include <functional>

namespace kiv::certificate {

// Two threads shared by every key derivation of the process that may run beside its caller.
// Starting fresh threads for each save costs more than a whole derivation's worth of scheduling on
// a busy machine; these wait for work instead, and live until the process ends.
class HelperThreads {
  public:
    static constexpr std::size_t kMost = 2;

    static HelperThreads& Instance();

    // Two more threads, at a lower priority, for work done ahead of need. They use cores the
    // process's other threads leave idle, and give way at once when one of those wakes (after a
    // flush to disk, say) instead of making it wait for the end of their time slice.
    static HelperThreads& Background();

    // Queues `task` for a helper; false when there is no helper thread to run it. Tasks run in the
    // order they were queued; a task must not throw.
    virtual bool Post(std::function<void()> task) = 0;

    // How many helper threads run (0 when none could be started).
    virtual std::size_t Count() const = 0;

  protected:
    ~HelperThreads() = default;
};

}  // namespace kiv::certificate
