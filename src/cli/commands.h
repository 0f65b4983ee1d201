// The commands of brindlesync-cli. Each takes the arguments after its own name and returns the
// process exit status.
#pragma once

#include <string>
#include <vector>

namespace bsync::cli {

using Args = std::vector<std::string>;

// Bad usage: the usage text goes to stderr.
inline constexpr int kExitUsage = 64;

int RunScan(const Args& args);
int RunArchive(const Args& args);
int RunSync(const Args& args);
int RunAccounts(const Args& args);

// True when args hold "--help" or "-h".
bool WantsHelp(const Args& args);

}  // namespace bsync::cli
