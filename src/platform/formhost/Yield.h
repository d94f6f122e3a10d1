#pragma once

#include <functional>

namespace kiv {

// "Let the window system process pending messages once": the only point where long loops let
// Stop, Escape or the close box in. Tests hook `afterYield` to act at exactly the k-th yield.
class Yield {
  public:
    virtual ~Yield() = default;
    void operator()();
    int Count() const { return count_; }
    std::function<void(int count)> afterYield;

  protected:
    virtual void ProcessEvents();

  private:
    int count_ = 0;
};

}  // namespace kiv
