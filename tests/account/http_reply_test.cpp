#include "account/http_reply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace bsync {
namespace {

// Hands out scripted pieces one per read, then the end value (0 closed, -1 time-out). Counts reads
// past the script, which a reader that waits for more than the body would make.
struct Script {
  std::vector<std::string> pieces;
  long end = 0;
  std::size_t next = 0;
  int readsPastEnd = 0;

  ByteSource Source() {
    return [this](char* buf, std::size_t size) -> long {
      if (next == pieces.size()) {
        ++readsPastEnd;
        return end;
      }
      std::string& p = pieces[next];
      const std::size_t n = std::min(size, p.size());
      std::memcpy(buf, p.data(), n);
      p.erase(0, n);
      if (p.empty()) ++next;
      return static_cast<long>(n);
    };
  }
};

TEST(ReadHttpReply, FramesTheBody) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    long end;
    std::string body;
    bool complete;
  };
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const Case cases[] = {
      {"content-length", {ok + "Content-Length: 5\r\n\r\nhello"}, -1, "hello", true},
      {"length split over reads", {ok + "Content-Le", "ngth: 5\r\n\r", "\nhe", "llo"}, -1, "hello",
       true},
      {"body ending in CR LF", {ok + "Content-Length: 7\r\n\r\n<x/>\r\n\r"}, 0, "<x/>\r\n\r", true},
      {"chunked", {ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", "2;ext=1\r\nde\r\n0\r\n\r\n"},
       -1, "abcde", true},
      {"chunked with trailer", {ok + "transfer-encoding: Chunked\r\n\r\n1\r\nz\r\n0\r\nX: y\r\n\r\n"},
       -1, "z", true},
      {"until close", {ok + "Connection: close\r\n\r\nab", "cd"}, 0, "abcd", true},
      {"until time-out", {ok + "\r\nab"}, -1, "ab", false},
      {"length cut short", {ok + "Content-Length: 9\r\n\r\nabc"}, 0, "abc", false},
      {"chunked cut short", {ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nab"}, 0, "ab", false},
      {"bad chunk size", {ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n"}, 0, "",
       false},
      {"no content", {"HTTP/1.1 204 No Content\r\n\r\n"}, -1, "", true},
      {"interim answer first", {"HTTP/1.1 100 Continue\r\n\r\n", ok + "Content-Length: 2\r\n\r\nok"},
       -1, "ok", true},
      {"conflicting lengths", {ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab"}, 0, "",
       false},
  };
  for (const auto& c : cases) {
    Script s{c.pieces, c.end};
    const HttpReply r = ReadHttpReply(s.Source());
    EXPECT_EQ(r.body, c.body) << c.name;
    EXPECT_EQ(r.complete, c.complete) << c.name;
  }
}

TEST(ReadHttpReply, StopsReadingOnceTheBodyIsComplete) {
  // The connection stays open after the answer: no read may wait beyond the body.
  for (const char* head : {"Content-Length: 4\r\n\r\n<a/>", "Transfer-Encoding: chunked\r\n\r\n4\r\n<a/>\r\n0\r\n\r\n"}) {
    Script s{{std::string("HTTP/1.1 200 OK\r\n") + head}, -1};
    const HttpReply r = ReadHttpReply(s.Source());
    EXPECT_TRUE(r.complete) << head;
    EXPECT_EQ(r.body, "<a/>");
    EXPECT_EQ(s.readsPastEnd, 0) << head;
  }
}

TEST(ReadHttpReply, KeepsHeadAndStatus) {
  Script s{{"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 3\r\n\r\nbad"}, 0};
  const HttpReply r = ReadHttpReply(s.Source());
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.head, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 3\r\n\r\n");
  EXPECT_EQ(r.body, "bad");
}

TEST(ReadHttpReply, NothingOrGarbageGivesNoBody) {
  const std::vector<std::vector<std::string>> inputs = {{}, {"garbage without end"}, {"x\r\n\r\nbody"}};
  for (const auto& in : inputs) {
    Script s{in, 0};
    const HttpReply r = ReadHttpReply(s.Source());
    EXPECT_TRUE(r.body.empty());
    EXPECT_FALSE(r.complete);
  }
}

TEST(ReadHttpReply, HugeLengthIsCutAtTheLimit) {
  Script s{{"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n" + std::string(1000, 'a')}, 0};
  const HttpReply r = ReadHttpReply(s.Source());
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.body.size(), 1000u);
}

}  // namespace
}  // namespace bsync
