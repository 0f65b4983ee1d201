#include <cstdio>

#include "cli/commands.h"

namespace bsync::cli {

int RunScan(const Args&) {
  std::fprintf(stderr, "brindlesync-cli scan: not built yet\n");
  return 1;
}

}  // namespace bsync::cli
