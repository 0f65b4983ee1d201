#include <cstdio>
#include <exception>
#include <filesystem>

#include "cli/commands.h"
#include "inventory/list_file.h"
#include "inventory/scan.h"

namespace bsync::cli {
namespace {

constexpr char kUsage[] =
    "usage: brindlesync-cli scan ROOT OUTDIR\n"
    "\n"
    "Scans the folder ROOT and writes its directory list to OUTDIR/dirs.txt and its file list\n"
    "to OUTDIR/files.txt (OUTDIR is created if missing). Names that a list entry cannot carry\n"
    "are left out and counted on stderr.\n";

}  // namespace

int RunScan(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() != 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  try {
    const std::filesystem::path root = std::filesystem::absolute(args[0]);
    const std::filesystem::path out = args[1];
    TXArray dirs, files;
    NullObserver observer;
    ScanSkips skips;
    ScanTree(root, dirs, files, observer, &skips);
    std::filesystem::create_directories(out);
    WriteListFile(out / "dirs.txt", dirs);
    WriteListFile(out / "files.txt", files);
    if (skips.count != 0)
      std::fprintf(stderr, "brindlesync-cli scan: %zu names left out\n", skips.count);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brindlesync-cli scan: %s\n", e.what());
    return 1;
  }
}

}  // namespace bsync::cli
