#include "sync/server_lock.h"

#include <chrono>
#include <random>

#include "remote/remote_layout.h"

namespace bsync {
namespace {

constexpr double kStaleAge = 60 * kOneSecond;

// 1000 ms plus a random 0 to 1000 ms, from a generator seeded from the clock, so that clients
// that collided once do not collide again.
void Pause(FtpSession& ftp) {
  const auto seed = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  ftp.Sleep(1000 + std::uniform_int_distribution<int>(0, 1000)(random));
}

void WaitCycle(LockContext& lock) {
  lock.ftp.Stop().ThrowIfStopped();
  lock.ftp.GetObserver().ShowStatus(kWaitMessage);
  Pause(lock.ftp);
  ApplyStaleTokenRule(lock);
}

}  // namespace

void ApplyStaleTokenRule(LockContext& lock) {
  const TDateTime taken = FtpMdtm(lock.ftp, "/f.dflsyncback") + kStaleAge;
  const TDateTime now = FtpServerTime(lock.ftp, lock.settingsDir, lock.cuid);
  if (taken < now) FtpRename(lock.ftp, "/f.dflsyncback", "/f.dflsync");
}

void WaitForServerList(LockContext& lock) {
  while (!FtpGetFile(lock.ftp, lock.settingsDir, "", "f.dflsync")) WaitCycle(lock);
}

void TakeServerLock(LockContext& lock) {
  // The token's time becomes the server's present time, so that once renamed it records when
  // the lock was taken. Only before the first attempt.
  const TDateTime now = FtpServerTime(lock.ftp, lock.settingsDir, lock.cuid);
  FtpMfmt(lock.ftp, "/f.dflsync", now);
  while (!FtpRename(lock.ftp, "/f.dflsync", "/f.dflsyncback")) WaitCycle(lock);
  lock.shared.lockHeld = true;
}

void ReleaseServerLock(LockContext& lock) {
  FtpRename(lock.ftp, "/f." + lock.cuid + "dflsync", "/f.dflsync");
  lock.shared.lockHeld = false;
}

}  // namespace bsync
