// The local scan: a folder tree as a directory list and a file list.
#pragma once

#include <filesystem>

#include "inventory/xarray.h"
#include "platform/observer.h"

namespace bsync {

// Names the scan left out because a list entry cannot carry them: names that Windows-1252
// cannot represent and names that contain ";", "\", ":" or a control character. (Names that begin with "." are skipped
// by design and not counted.)
struct ScanSkips {
  std::size_t count = 0;
};

// Empties both lists, then fills them, breadth first, with the directory and file entries of
// everything below root. Calls CountAction once per folder and file listed. Symbolic links to
// folders are not followed; a link to a file is listed as that file; sockets, pipes and devices
// are left out. Throws EInOutError when root or a folder below it cannot be listed (a folder
// that vanished during the scan just adds nothing): an unreadable folder is no empty folder.
void ScanTree(const std::filesystem::path& root, TXArray& dirs, TXArray& files, Observer& observer,
              ScanSkips* skips = nullptr);

// One folder level: appends the bare name of each subfolder to subfolders and, for each file, an
// entry whose path field is its bare name to fileEntries. A folder that does not exist adds
// nothing; one that cannot be listed throws EInOutError.
void ScanFolder(const std::filesystem::path& folder, TXArray& subfolders, TXArray& fileEntries,
                Observer& observer, ScanSkips* skips = nullptr);

}  // namespace bsync
