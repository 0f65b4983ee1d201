// List-driven remote operations: one single operation per entry of a directory or file list, in a
// fixed order, with progress and action counts, and a fresh login after every n-th entry so that
// no control connection carries a long series of commands.
#pragma once

#include <filesystem>
#include <string>

#include "inventory/xarray.h"
#include "remote/ftp_session.h"

namespace bsync {

// FtpMkd of remoteBase/entry, in list order; "QUIT" before each re-login.
void FtpMkdList(FtpSession& ftp, std::string_view remoteBase, int n, const TXArray& dirs);
// FtpRmd of remoteBase/entry, last entry first.
void FtpRmdList(FtpSession& ftp, std::string_view remoteBase, int n, const TXArray& dirs);
// Deletes everything below path (not path itself); count is the number of operations since the
// last re-login, on entry and on return.
int FtpDeleteTree(FtpSession& ftp, std::string_view path, int n, int count);
// Checks the quota, then stores each file; returns the entries that were not stored. Ends the
// run when the quota is too small or the server answers 552.
TXArray FtpUploadList(FtpSession& ftp, const std::filesystem::path& localBase,
                      std::string_view remoteBase, int n, const TXArray& files);
// Retrieves each file; returns the entries that arrived completely.
TXArray FtpDownloadList(FtpSession& ftp, const std::filesystem::path& localBase,
                        std::string_view remoteBase, int n, const TXArray& files);
void FtpMoveList(FtpSession& ftp, std::string_view fromDir, std::string_view toDir, int n,
                 const TXArray& files);
void FtpDeleteList(FtpSession& ftp, std::string_view remoteBase, int n, const TXArray& files);

}  // namespace bsync
