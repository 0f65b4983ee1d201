// Upload and download of one big file and of many small files through FtpUploadList and
// FtpDownloadList against a local ProFTPD (plain text and TLS), beside curl doing the same
// transfers on the same server. Prints MB/s, files/s and the process's peak resident memory.
// Needs root (the server chroots); run: brindlesync-remote-bench [--big-mib=256]
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "remote/proftpd_server.h"
#include "remote/remote_lists.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

constexpr int kSmallFiles = 1000;
constexpr size_t kSmallSize = 4096;
size_t bigBytes = size_t{256} << 20;

double PeakRssMb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

// One server per mode for the whole run, with the local files made once.
struct Setup {
  explicit Setup(bool tls) : server(test::ProftpdOptions{tls, false, 1000000}) {
    std::filesystem::create_directories(local / "up/small");
    {
      std::ofstream big(local / "up/big.bin", std::ios::binary);
      std::string chunk(1 << 20, '\0');
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + 7);
      for (size_t done = 0; done < bigBytes; done += chunk.size()) big << chunk;
    }
    for (int i = 0; i < kSmallFiles; ++i) {
      std::string name = "f" + std::to_string(i) + ".bin";
      std::ofstream(local / "up/small" / name, std::ios::binary) << std::string(kSmallSize, 'x');
      smallEntries.push_back("small\\" + name + ";01.01.2012 10:00:00;01.01.2012 10:00:00;0;");
    }
    std::filesystem::create_directories(server.Home() / "files/small");
    std::filesystem::create_directories(server.Home() / "curl/small");
  }
  test::ProftpdServer server;
  test::TempDir local;
  TXArray smallEntries;
};

Setup& Get(bool tls) {
  static std::unique_ptr<Setup> plain, secure;
  auto& s = tls ? secure : plain;
  if (!s) s = std::make_unique<Setup>(tls);
  return *s;
}

void Connect(FtpSession& ftp, Setup& s) {
  if (!FtpConnect(ftp, s.server.Host(), s.server.Port(), "tester", "secret"))
    throw std::runtime_error("no login");
}

// Ours: op 0 upload big, 1 download big, 2 upload small, 3 download small.
void Ours(benchmark::State& state, bool tls, int op) {
  if (!test::ProftpdServer::Available()) {
    state.SkipWithError("needs root and ProFTPD");
    return;
  }
  Setup& s = Get(tls);
  NullObserver observer;
  for (auto _ : state) {
    FtpSession ftp(observer, StopToken{}, RealSleep);
    Connect(ftp, s);
    const TXArray big{"big.bin;01.01.2012 10:00:00;01.01.2012 10:00:00;256;"};
    switch (op) {
      case 0:
        FtpUploadList(ftp, s.local / "up", "/files", 30, big);
        break;
      case 1:
        FtpDownloadList(ftp, s.local / "down", "/files", 30, big);
        break;
      case 2:
        FtpUploadList(ftp, s.local / "up", "/files", 30, s.smallEntries);
        break;
      case 3:
        FtpDownloadList(ftp, s.local / "down", "/files", 30, s.smallEntries);
        break;
    }
    FtpDisconnect(ftp);
  }
  bool bigOp = op < 2;
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(bigOp ? bigBytes : kSmallFiles * kSmallSize));
  state.counters["files/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * (bigOp ? 1 : kSmallFiles)),
      benchmark::Counter::kIsRate);
  state.counters["peak_rss_MB"] = PeakRssMb();
}

// curl: the same transfers in one invocation each (one connection for all files).
void Curl(benchmark::State& state, bool tls, int op) {
  if (!test::ProftpdServer::Available()) {
    state.SkipWithError("needs root and ProFTPD");
    return;
  }
  Setup& s = Get(tls);
  const std::string base = "ftp://" + s.server.Host() + ":" + s.server.Port() + "/curl/";
  const std::string config = (s.local / "curl.cfg").string();
  {
    std::ofstream cfg(config);
    cfg << "user = \"tester:secret\"\nsilent\nshow-error\n";
    // TLS 1.2 as for our client: TLS 1.3 tickets are single-use on this server, which refuses
    // data connections that do not resume the control session.
    if (tls) cfg << "ssl-reqd\ninsecure\ntls-max = \"1.2\"\n";
    std::filesystem::create_directories(s.local / "curldown/small");
    auto item = [&](const std::string& rel) {
      if (op % 2 == 0)
        cfg << "upload-file = \"" << (s.local / "up" / rel).string() << "\"\nurl = \"" << base
            << rel << "\"\n";
      else
        cfg << "url = \"" << base << rel << "\"\noutput = \""
            << (s.local / "curldown" / rel).string() << "\"\n";
    };
    if (op < 2) {
      item("big.bin");
    } else {
      for (int i = 0; i < kSmallFiles; ++i) item("small/f" + std::to_string(i) + ".bin");
    }
  }
  for (auto _ : state) {
    if (std::system(("curl -K '" + config + "'").c_str()) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  bool bigOp = op < 2;
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(bigOp ? bigBytes : kSmallFiles * kSmallSize));
  state.counters["files/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * (bigOp ? 1 : kSmallFiles)),
      benchmark::Counter::kIsRate);
}

void Register() {
  const char* ops[] = {"upload_big", "download_big", "upload_1000x4KiB", "download_1000x4KiB"};
  for (bool tls : {false, true}) {
    for (int op = 0; op < 4; ++op) {
      std::string mode = tls ? "tls/" : "plain/";
      // One round of 1,000 files is long enough to measure; curl's TLS downloads of small files
      // stall about 0.2 s each on this server, so more rounds would take many minutes.
      const int rounds = op < 2 ? 3 : 1;
      // Uploads first, so the downloads find the files on the server.
      benchmark::RegisterBenchmark(("ours/" + mode + ops[op]).c_str(),
                                   [tls, op](benchmark::State& st) { Ours(st, tls, op); })
          ->Iterations(rounds)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
      benchmark::RegisterBenchmark(("curl/" + mode + ops[op]).c_str(),
                                   [tls, op](benchmark::State& st) { Curl(st, tls, op); })
          ->Iterations(rounds)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
}

}  // namespace
}  // namespace bsync

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--big-mib=", 0) == 0) bsync::bigBytes = std::stoull(arg.substr(10)) << 20;
  }
  benchmark::Initialize(&argc, argv);
  bsync::Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
