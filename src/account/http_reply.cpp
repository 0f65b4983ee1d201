#include "account/http_reply.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

namespace bsync {

namespace {

class BufferedSource {
 public:
  explicit BufferedSource(const ByteSource& source) : source_(source) {}

  // Adds more data to the buffer; false when the source has ended or failed.
  bool Fill() {
    if (ended_) return false;
    char chunk[16 * 1024];
    const long n = source_(chunk, sizeof chunk);
    if (n <= 0) {
      ended_ = true;
      closedCleanly_ = n == 0;
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  // The text up to and including the first occurrence of terminator, read within limit bytes.
  std::optional<std::string> ReadThrough(std::string_view terminator, std::size_t limit) {
    std::size_t searchFrom = 0;
    for (;;) {
      const std::size_t at = buffer_.find(terminator, searchFrom);
      if (at != std::string::npos && at + terminator.size() <= limit) return Take(at + terminator.size());
      if (buffer_.size() >= limit) return std::nullopt;
      searchFrom = buffer_.size() >= terminator.size() ? buffer_.size() - terminator.size() + 1 : 0;
      if (!Fill()) return std::nullopt;
    }
  }

  // Exactly n bytes appended to out; false (with what arrived appended) when the source ends.
  bool ReadExact(std::size_t n, std::string& out) {
    while (buffer_.size() < n) {
      if (!Fill()) {
        out += Take(buffer_.size());
        return false;
      }
    }
    out += Take(n);
    return true;
  }

  // Everything until the source ends, at most limit bytes appended to out; true on a clean close.
  bool ReadToEnd(std::size_t limit, std::string& out) {
    while (buffer_.size() < limit && Fill()) {
    }
    out += Take(std::min(buffer_.size(), limit));
    return closedCleanly_ && buffer_.empty();
  }

  std::string TakeAll() { return Take(buffer_.size()); }

 private:
  std::string Take(std::size_t n) {
    std::string out = buffer_.substr(0, n);
    buffer_.erase(0, n);
    return out;
  }

  const ByteSource& source_;
  std::string buffer_;
  bool ended_ = false;
  bool closedCleanly_ = false;
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

struct Framing {
  int status = 0;
  bool chunked = false;
  std::optional<std::size_t> contentLength;
  bool bad = false;  // contradictory or unreadable length
};

Framing ParseHead(std::string_view head) {
  Framing f;
  std::size_t lineEnd = head.find("\r\n");
  const std::string_view statusLine = head.substr(0, lineEnd);
  if (statusLine.starts_with("HTTP/")) {
    const std::size_t sp = statusLine.find(' ');
    if (sp != std::string_view::npos && statusLine.size() >= sp + 4) {
      int code = 0;
      const char* b = statusLine.data() + sp + 1;
      if (std::from_chars(b, b + 3, code).ec == std::errc()) f.status = code;
    }
  }
  while (lineEnd != std::string_view::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string_view line = head.substr(start, lineEnd == std::string_view::npos ? head.npos : lineEnd - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string name = Lower(TrimBlanks(line.substr(0, colon)));
    const std::string value = Lower(TrimBlanks(line.substr(colon + 1)));
    if (name == "transfer-encoding") {
      if (value.find("chunked") != std::string::npos) f.chunked = true;
    } else if (name == "content-length") {
      std::size_t n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() ||
          (f.contentLength && *f.contentLength != n))
        f.bad = true;
      else
        f.contentLength = n;
    }
  }
  return f;
}

// Decodes a chunked body into out; true when the last chunk and the trailer arrived.
bool ReadChunked(BufferedSource& in, std::string& out) {
  for (;;) {
    const auto sizeLine = in.ReadThrough("\r\n", 4096);
    if (!sizeLine) return false;
    std::string_view hex = *sizeLine;
    hex = hex.substr(0, std::min(hex.find(';'), hex.size() - 2));
    hex = TrimBlanks(hex);
    std::size_t size = 0;
    const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), size, 16);
    if (hex.empty() || ec != std::errc() || end != hex.data() + hex.size()) return false;
    if (size == 0) {
      // Trailer fields, then the empty line.
      for (;;) {
        const auto trailer = in.ReadThrough("\r\n", 8192);
        if (!trailer) return false;
        if (*trailer == "\r\n") return true;
      }
    }
    if (size > kMaxHttpBody - std::min(out.size(), kMaxHttpBody)) return false;
    if (!in.ReadExact(size, out)) return false;
    std::string crlf;
    if (!in.ReadExact(2, crlf) || crlf != "\r\n") return false;
  }
}

}  // namespace

HttpReply ReadHttpReply(const ByteSource& source) {
  HttpReply reply;
  BufferedSource in(source);
  const auto head = in.ReadThrough("\r\n\r\n", kMaxHttpHead);
  if (!head) {
    // No complete head: keep what came, so that a caller can still see it.
    reply.head = in.TakeAll();
    return reply;
  }
  reply.head = *head;
  Framing f = ParseHead(reply.head);
  // Interim answers ("100 Continue") come before the real one; keep them in the head.
  while (f.status >= 100 && f.status < 200 && f.status != 101) {
    const auto next = in.ReadThrough("\r\n\r\n", kMaxHttpHead);
    if (!next) {
      reply.head += in.TakeAll();
      return reply;
    }
    reply.head += *next;
    f = ParseHead(*next);
  }
  reply.status = f.status;
  if (f.status == 0 || f.bad) return reply;
  if (f.status == 101 || f.status == 204 || f.status == 304) {
    reply.complete = true;
    return reply;
  }
  if (f.chunked) {
    reply.complete = ReadChunked(in, reply.body);
  } else if (f.contentLength) {
    if (*f.contentLength > kMaxHttpBody) {
      in.ReadExact(kMaxHttpBody, reply.body);
      return reply;
    }
    reply.complete = in.ReadExact(*f.contentLength, reply.body);
  } else {
    reply.complete = in.ReadToEnd(kMaxHttpBody, reply.body);
  }
  return reply;
}

}  // namespace bsync
