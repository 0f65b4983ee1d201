#include "remote/remote_layout.h"

#include <charconv>
#include <random>

#include "inventory/list_archive.h"
#include "inventory/list_file.h"
#include "inventory/local_ops.h"
#include "platform/file_io.h"

namespace bsync {

bool FtpEnsureLayout(FtpSession& ftp, const std::filesystem::path& settingsDir) {
  const std::filesystem::path lastArchive = settingsDir / "o.dflsync";
  bool tmpReady = false, filesReady = false;
  for (int retry = 0;; ++retry) {
    ftp.Stop().ThrowIfStopped();
    int tmp = ftp.Client().Command("MKD /tmp");
    int files = ftp.Client().Command("MKD /files");
    for (auto [code, ready] : {std::pair{tmp, &tmpReady}, std::pair{files, &filesReady}}) {
      if (code == 257 || code == 550) *ready = true;
      // A folder just created means a new server side: the last agreed state is void.
      if (code == 257) DeleteLocalFile(lastArchive);
    }
    if (tmp != 0 && files != 0) break;
    if (retry == 5) AbortRun(ftp, "session to server broken stop sync");
    ftp.Sleep(1000);
    ftp.Stop().ThrowIfStopped();
    ftp.Client().Login();
  }
  if (!tmpReady || !filesReady) return false;

  if (FtpExists(ftp, "/f.dflsync")) {
    if (!FtpExists(ftp, "/f.dflsyncback")) DeleteLocalFile(lastArchive);
    return true;
  }
  if (FtpExists(ftp, "/f.dflsyncback")) return true;
  DeleteLocalFile(lastArchive);
  WriteListArchive(settingsDir / "f.dflsync", {}, {});
  return FtpPutFile(ftp, settingsDir, "", "f.dflsync") == kPutStored;
}

int ParseVersionMarker(std::string_view text) {
  std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  int value = 0;
  auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
  if (line.empty() || ec != std::errc() || ptr != line.data() + line.size()) return 0;
  return value;
}

void FtpVersionCheck(FtpSession& ftp, const std::filesystem::path& localDir,
                     std::string_view remoteDir, int clientVersion, const std::string& cuid) {
  Observer& observer = ftp.GetObserver();
  const std::filesystem::path marker = localDir / "version.sync";
  DeleteLocalFile(marker);
  observer.CountAction();

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> extra(0, 1000);
  for (int attempt = 1; attempt <= 6; ++attempt) {
    if (FtpGetFile(ftp, localDir, remoteDir, "version.sync")) break;
    observer.CountAction();
    // No pause after the last attempt: the run goes on without the marker.
    if (attempt < 6) ftp.Sleep(1000 + extra(random));
  }

  int version = 0;
  std::error_code ec;
  if (std::filesystem::exists(marker, ec)) {
    observer.CountAction();
    version = ParseVersionMarker(ReadWholeFile(marker));
  }
  if (version > clientVersion) AbortRun(ftp, "ERROR: your client ist to old please update");
  if (version == clientVersion) return;

  observer.CountAction();
  const std::string newName = cuid + "version.sync";
  WriteListFile(localDir / newName, {std::to_string(clientVersion)});
  observer.CountAction();
  if (FtpPutFile(ftp, localDir, remoteDir, newName) == kPutStored &&
      FtpRename(ftp, std::string(remoteDir) + "/" + newName,
                std::string(remoteDir) + "/version.sync"))
    return;
  AbortRun(ftp, "ERROR: can not set version -> stop sync");
}

TDateTime FtpServerTime(FtpSession& ftp, const std::filesystem::path& settingsDir,
                        const std::string& cuid) {
  const std::string name = "tc." + cuid;
  WriteListFile(settingsDir / name, {});
  FtpPutFile(ftp, settingsDir, "", name);
  TDateTime time = FtpMdtm(ftp, "/" + name);
  FtpDelete(ftp, "/" + name);
  return time;
}

}  // namespace bsync
