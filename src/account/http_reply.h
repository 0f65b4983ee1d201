// Reads one HTTP/1.1 answer: the head up to the empty line, then the body as the head frames it
// (Content-Length, chunked transfer coding, or until the connection closes). Reading stops as soon
// as the body is complete, so a server that keeps the connection open costs no waiting.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace bsync {

// Fills up to size bytes: the count, 0 when the peer closed, -1 on an error or a time-out.
using ByteSource = std::function<long(char* buffer, std::size_t size)>;

struct HttpReply {
  std::string head;  // status line and header lines, each with its CR LF, and the empty line
  std::string body;  // the body after removing the transfer coding
  int status = 0;    // 0 when the status line could not be read
  bool complete = false;  // the head and the whole body arrived
};

inline constexpr std::size_t kMaxHttpHead = 64 * 1024;
inline constexpr std::size_t kMaxHttpBody = 16 * 1024 * 1024;

// An answer that breaks off keeps what arrived; one whose head or body exceeds the limits is cut
// there and is not complete.
HttpReply ReadHttpReply(const ByteSource& source);

}  // namespace bsync
