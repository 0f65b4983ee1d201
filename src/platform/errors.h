// Error types raised by the core where an operation cannot go on: a text that does not convert,
// and a file that cannot be read or written. Remote failures are not raised; they end the run.
#pragma once

#include <stdexcept>
#include <string>

namespace bsync {

// A text that does not parse as a date-time or a number.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be created, opened, read or written.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace bsync
