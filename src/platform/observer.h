// What the core shows the user: the status line, the action counter, the progress bar and the
// enabled state of the "SYNC NOW" button. The run thread calls these; implementations hand the
// values to their own thread and must stay cheap (a scan of 100,000 files counts 100,000 actions).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace bsync {

class Observer {
 public:
  virtual ~Observer() = default;
  // Sets the status line; text is UTF-8.
  virtual void ShowStatus(const std::string& text) = 0;
  // Adds one to the action counter and shows it.
  virtual void CountAction() = 0;
  // Sets the action counter to 0 without showing it; the next CountAction shows 1.
  virtual void ResetActionCount() {}
  virtual void SetProgressMax(int /*max*/) {}
  virtual void SetProgressPosition(int /*position*/) {}
  virtual void SetSyncEnabled(bool /*enabled*/) {}
};

// Shows nothing; for callers that have no user interface.
class NullObserver : public Observer {
 public:
  void ShowStatus(const std::string&) override {}
  void CountAction() override {}
};

// Keeps what it is shown, for tests and the command-line tool. Safe to call from any thread.
class RecordingObserver : public Observer {
 public:
  void ShowStatus(const std::string& text) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back(text);
  }
  void CountAction() override { actions_.fetch_add(1, std::memory_order_relaxed); }
  void ResetActionCount() override { actions_ = 0; }
  void SetProgressMax(int max) override { progressMax_ = max; }
  void SetProgressPosition(int position) override { progressPosition_ = position; }
  void SetSyncEnabled(bool enabled) override { syncEnabled_ = enabled; }

  int Actions() const { return actions_.load(); }
  int ProgressMax() const { return progressMax_.load(); }
  int ProgressPosition() const { return progressPosition_.load(); }
  bool SyncEnabled() const { return syncEnabled_.load(); }
  std::vector<std::string> Statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> statuses_;
  std::atomic<int> actions_{0};
  std::atomic<int> progressMax_{100};
  std::atomic<int> progressPosition_{0};
  std::atomic<bool> syncEnabled_{true};
};

}  // namespace bsync
