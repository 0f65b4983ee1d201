#include <cstdio>
#include <exception>
#include <filesystem>

#include "cli/commands.h"
#include "inventory/list_archive.h"
#include "inventory/list_file.h"

namespace bsync::cli {
namespace {

constexpr char kUsage[] =
    "usage: brindlesync-cli archive pack ARCHIVE DIRSFILE FILESFILE\n"
    "       brindlesync-cli archive dump ARCHIVE OUTDIR\n"
    "\n"
    "pack  writes the directory list DIRSFILE and the file list FILESFILE into the list\n"
    "      archive ARCHIVE, replacing it.\n"
    "dump  reads the list archive ARCHIVE and writes its lists to OUTDIR/dirs.txt and\n"
    "      OUTDIR/files.txt (OUTDIR is created if missing).\n";

int Pack(const Args& args) {
  TXArray dirs, files;
  // A list file that does not exist would silently stand for an empty list; refuse it.
  for (const auto& list : {args[2], args[3]})
    if (!std::filesystem::exists(list)) {
      std::fprintf(stderr, "brindlesync-cli archive: %s does not exist\n", list.c_str());
      return 1;
    }
  ReadListFile(args[2], dirs);
  ReadListFile(args[3], files);
  WriteListArchive(args[1], dirs, files);
  return 0;
}

int Dump(const Args& args) {
  TXArray dirs, files;
  ReadListArchive(args[1], dirs, files);
  const std::filesystem::path out = args[2];
  std::filesystem::create_directories(out);
  WriteListFile(out / "dirs.txt", dirs);
  WriteListFile(out / "files.txt", files);
  return 0;
}

}  // namespace

int RunArchive(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const bool pack = args.size() == 4 && args[0] == "pack";
  const bool dump = args.size() == 3 && args[0] == "dump";
  if (!pack && !dump) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  try {
    return pack ? Pack(args) : Dump(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

}  // namespace bsync::cli
