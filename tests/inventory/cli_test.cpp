// Runs the built brindlesync-cli on real folders.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "inventory/list_archive.h"
#include "inventory/list_file.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result RunCli(const std::string& args, const TempDir& scratch) {
  const fs::path errFile = scratch / "stderr.txt";
  const std::string cmd = Quote(std::string(BRINDLESYNC_BIN_DIR) + "/brindlesync-cli") + " " +
                          args + " 2>" + Quote(errFile.string());
  Result r;
  std::FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.err = ReadFile(errFile);
  return r;
}

TEST(Cli, ScanWritesBothListFiles) {
  TempDir t;
  WriteFile(t / "root/Photos/a.jpg", "a");
  WriteFile(t / "root/top.txt", "t");
  const Result r = RunCli("scan " + Quote((t / "root").string()) + " " + Quote((t / "out/new").string()), t);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(t / "out/new/dirs.txt"), "Photos\\\r\n");
  TXArray files;
  ReadListFile(t / "out/new/files.txt", files);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].rfind("top.txt;", 0), 0u);
  EXPECT_EQ(files[1].rfind("Photos\\a.jpg;", 0), 0u);
}

TEST(Cli, PackAndDumpRoundTrip) {
  TempDir t;
  WriteListFile(t / "d.txt", {"a\\", "a\\b\\"});
  WriteListFile(t / "f.txt", {"a\\b\\x;01.01.2001;02.02.2002 03:04:05;1;"});
  const std::string archive = Quote((t / "x.dflsync").string());
  Result r = RunCli("archive pack " + archive + " " + Quote((t / "d.txt").string()) + " " +
                     Quote((t / "f.txt").string()),
                 t);
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCli("archive dump " + archive + " " + Quote((t / "dump").string()), t);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(t / "dump/dirs.txt"), ReadFile(t / "d.txt"));
  EXPECT_EQ(ReadFile(t / "dump/files.txt"), ReadFile(t / "f.txt"));
}

TEST(Cli, DumpOfADamagedArchivePrintsTheArchiveError) {
  TempDir t;
  WriteListArchive(t / "x.dflsync", {"a\\"}, {});
  std::string bytes = ReadFile(t / "x.dflsync");
  bytes[30] ^= 1;  // TOC digest
  WriteFile(t / "x.dflsync", bytes);
  Result r = RunCli("archive dump " + Quote((t / "x.dflsync").string()) + " " + Quote((t / "o").string()), t);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ZLibError(1) corrupted table of contents\n");
  WriteFile(t / "x.dflsync", "PK\3\4");
  r = RunCli("archive dump " + Quote((t / "x.dflsync").string()) + " " + Quote((t / "o").string()), t);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ZLibError(2) corrupt file or not a correct file type\n");
  EXPECT_FALSE(fs::exists(t / "o"));
}

TEST(Cli, UsageAndHelp) {
  TempDir t;
  const struct {
    const char* args;
    int status;
    bool usageOnStderr;
  } cases[] = {
      {"scan --help", 0, false},
      {"archive --help", 0, false},
      {"archive pack -h", 0, false},
      {"scan", 64, true},
      {"scan a b c", 64, true},
      {"archive", 64, true},
      {"archive pack a b", 64, true},
      {"archive dump a", 64, true},
      {"archive unpack a b", 64, true},
      {"nosuch", 64, true},
      {"", 64, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = RunCli(c.args, t);
    EXPECT_EQ(r.status, c.status);
    const std::string& usage = c.usageOnStderr ? r.err : r.out;
    EXPECT_NE(usage.find("usage:"), std::string::npos);
  }
}

TEST(Cli, PackRefusesAMissingListFile) {
  TempDir t;
  WriteListFile(t / "d.txt", {});
  const Result r = RunCli("archive pack " + Quote((t / "x").string()) + " " +
                           Quote((t / "d.txt").string()) + " " + Quote((t / "nope").string()),
                       t);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(t / "x"));
}

}  // namespace
}  // namespace bsync
