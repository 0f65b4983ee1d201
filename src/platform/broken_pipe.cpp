#include "platform/broken_pipe.h"

#include <csignal>
#include <mutex>

namespace bsync {

void IgnoreBrokenPipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

}  // namespace bsync
