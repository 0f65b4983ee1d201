#include <cstdio>

#include "cli/commands.h"

namespace bsync::cli {

int RunArchive(const Args&) {
  std::fprintf(stderr, "brindlesync-cli archive: not built yet\n");
  return 1;
}

}  // namespace bsync::cli
