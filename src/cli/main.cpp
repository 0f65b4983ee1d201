// brindlesync-cli: the core's operations from a terminal.
#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const bsync::cli::Args&);
};

constexpr Command kCommands[] = {
    {"scan", "scan a folder into dirs.txt and files.txt", bsync::cli::RunScan},
    {"archive", "pack or dump a list archive", bsync::cli::RunArchive},
    {"sync", "run one sync with an FTP account", bsync::cli::RunSync},
    {"accounts", "sign in and list the sync accounts", bsync::cli::RunAccounts},
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "usage: brindlesync-cli COMMAND [ARGS...]\n\ncommands:\n");
  for (const auto& c : kCommands) std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(to, "\n'brindlesync-cli COMMAND --help' describes a command.\n");
}

}  // namespace

namespace bsync::cli {

bool WantsHelp(const Args& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

}  // namespace bsync::cli

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return bsync::cli::kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return 0;
  }
  const bsync::cli::Args args(argv + 2, argv + argc);
  for (const auto& c : kCommands) {
    if (name == c.name) return c.run(args);
  }
  std::fprintf(stderr, "brindlesync-cli: unknown command '%s'\n\n", name.c_str());
  PrintUsage(stderr);
  return bsync::cli::kExitUsage;
}
