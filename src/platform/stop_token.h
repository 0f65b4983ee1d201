// Stopping a run at once: the main thread sets the flag, the run tests it before every step and
// leaves through RunStopped. The FTP session is interrupted separately so a blocked read returns.
#pragma once

#include <atomic>
#include <memory>
#include <stdexcept>

namespace bsync {

// Thrown on the run's thread when a stop was requested; only the run's boundary catches it.
class RunStopped : public std::runtime_error {
 public:
  RunStopped() : std::runtime_error("run stopped") {}
};

// Shared between the thread that asks for the stop and the run. A default token never stops.
class StopToken {
 public:
  StopToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
  void RequestStop() const { flag_->store(true); }
  bool StopRequested() const { return flag_->load(std::memory_order_relaxed); }
  void ThrowIfStopped() const {
    if (StopRequested()) throw RunStopped();
  }

 private:
  std::shared_ptr<std::atomic<bool>> flag_;
};

}  // namespace bsync
