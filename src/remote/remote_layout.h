// The fixed layout of the account ("/files", "/tmp", the list archive "/f.dflsync"), the version
// marker "/version.sync" that keeps older clients off an account a newer one has synchronised,
// and the server's clock, read from the modification time of a probe file.
#pragma once

#include <filesystem>
#include <string>

#include "remote/ftp_session.h"

namespace bsync {

// Creates "/tmp" and "/files" if missing and "/f.dflsync" (an empty list archive) when neither
// archive exists; deletes settingsDir/"o.dflsync" when the server side is new. True when both
// folders are in place and a needed archive was stored.
bool FtpEnsureLayout(FtpSession& ftp, const std::filesystem::path& settingsDir);

// Returns when the run may go on; ends the run when the marker is newer than clientVersion or
// cannot be raised to it.
void FtpVersionCheck(FtpSession& ftp, const std::filesystem::path& localDir,
                     std::string_view remoteDir, int clientVersion, const std::string& cuid);

// The server's present time by its own clock: stores "/tc.<cuid>", reads its MDTM, deletes it.
TDateTime FtpServerTime(FtpSession& ftp, const std::filesystem::path& settingsDir,
                        const std::string& cuid);

// The marker's version from the first line of its text; 0 when empty or not a decimal integer.
int ParseVersionMarker(std::string_view text);

}  // namespace bsync
