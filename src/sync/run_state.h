// What a run shares with the thread that started it. Each value is read and written whole.
#pragma once

#include <atomic>

namespace bsync {

struct RunShared {
  std::atomic<bool> syncRunning{false};  // a run is active
  std::atomic<bool> lockHeld{false};     // the run holds the server lock
  std::atomic<int> nextSyncMinutes{1};   // minutes until the timer starts the next run
};

}  // namespace bsync
