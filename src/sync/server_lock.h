// Turn-taking of the clients of one account. "/f.dflsync" is both the server's list archive and
// the lock token: present means free. A client takes the lock by renaming it to "/f.dflsyncback"
// and releases it by renaming its new archive "/f.<cuid>dflsync" to "/f.dflsync". A token missing
// for more than 60 seconds of server time is put back by whoever waits for it.
#pragma once

#include <filesystem>
#include <string>

#include "remote/ftp_session.h"
#include "sync/run_state.h"

namespace bsync {

inline constexpr char kWaitMessage[] = "other client sync -> wait(Max 60 sec)";

// Where the lock operations keep their local files and how they name their probe.
struct LockContext {
  FtpSession& ftp;
  std::filesystem::path settingsDir;
  std::string cuid;
  RunShared& shared;
};

// Returns once "/f.dflsync" has been downloaded into settingsDir/"f.dflsync".
void WaitForServerList(LockContext& lock);
// Returns once this client renamed "/f.dflsync" to "/f.dflsyncback"; sets lockHeld.
void TakeServerLock(LockContext& lock);
// Renames "/f.<cuid>dflsync" to "/f.dflsync" (result not examined); clears lockHeld.
void ReleaseServerLock(LockContext& lock);

// Puts an abandoned token back: when "/f.dflsyncback" is more than 60 seconds older than the
// server's present time, renames it to "/f.dflsync" (result ignored).
void ApplyStaleTokenRule(LockContext& lock);

}  // namespace bsync
