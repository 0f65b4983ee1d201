// Speed of the list operations, the scan and the list archive at the sizes a large sync folder
// reaches.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "inventory/list_archive.h"
#include "inventory/list_ops.h"
#include "inventory/scan.h"

namespace {

namespace fs = std::filesystem;
using bsync::TXArray;

// n file entries in folders of 25 files, two levels deep. shift renames a part of them and
// changes the seconds of others, so the second list both lacks and outdates entries of the first.
TXArray MakeFiles(int n, int shift) {
  TXArray files;
  files.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const int id = (i % 10 == 0) ? i + shift * 1000000 : i;
    const int folder = i / 25;
    files.push_back("Photos\\" + std::to_string(folder / 20) + "\\album" + std::to_string(folder) +
                    "\\img" + std::to_string(id) + ".jpg;24.12.2011 17:05:09;26.12.2011 09:14:" +
                    std::to_string(10 + (i + shift) % 40) + ";0,0234375;");
  }
  return files;
}

void BM_ListMinus(benchmark::State& state) {
  const TXArray a = MakeFiles(static_cast<int>(state.range(0)), 0);
  const TXArray b = MakeFiles(static_cast<int>(state.range(0)), 1);
  bsync::NullObserver observer;
  for (auto _ : state) benchmark::DoNotOptimize(bsync::ListMinus(a, b, observer));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListMinus)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FilesNewer(benchmark::State& state) {
  const TXArray a = MakeFiles(static_cast<int>(state.range(0)), 0);
  const TXArray b = MakeFiles(static_cast<int>(state.range(0)), 1);
  bsync::NullObserver observer;
  for (auto _ : state) benchmark::DoNotOptimize(bsync::FilesNewer(a, b, observer));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FilesNewer)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DirsOfFiles(benchmark::State& state) {
  const TXArray files = MakeFiles(static_cast<int>(state.range(0)), 0);
  for (auto _ : state) benchmark::DoNotOptimize(bsync::DirsOfFiles(files));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DirsOfFiles)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A folder below the temporary folder that goes away with the process.
class ScratchDir {
 public:
  ScratchDir() : path_(fs::temp_directory_path() / ("bsync-bench-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

ScratchDir& Scratch() {
  static ScratchDir dir;
  return dir;
}

// 20,000 small files in 400 folders of 50 files each: 20 top folders, each with 19 subfolders.
void FillFolder(const fs::path& folder) {
  fs::create_directories(folder);
  for (int f = 0; f < 50; ++f)
    std::ofstream(folder / ("file" + std::to_string(f) + ".dat")) << "content " << f;
}

const fs::path& Tree() {
  static const fs::path root = [] {
    const fs::path r = Scratch().path() / "tree";
    for (int top = 0; top < 20; ++top) {
      const fs::path topFolder = r / ("top" + std::to_string(top));
      FillFolder(topFolder);
      for (int sub = 0; sub < 19; ++sub) FillFolder(topFolder / ("sub" + std::to_string(sub)));
    }
    return r;
  }();
  return root;
}

void BM_ScanTree(benchmark::State& state) {
  const fs::path& root = Tree();
  bsync::NullObserver observer;
  TXArray dirs, files;
  for (auto _ : state) {
    bsync::ScanTree(root, dirs, files, observer);
    benchmark::DoNotOptimize(files.data());
  }
  state.counters["files"] = static_cast<double>(files.size());
  state.counters["folders"] = static_cast<double>(dirs.size());
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size() + dirs.size()));
}
BENCHMARK(BM_ScanTree)->Unit(benchmark::kMillisecond);

void BM_ListArchiveRoundTrip(benchmark::State& state) {
  const TXArray files = MakeFiles(static_cast<int>(state.range(0)), 0);
  const TXArray dirs = bsync::DirsOfFiles(files);
  const fs::path archive = Scratch().path() / "f.dflsync";
  for (auto _ : state) {
    bsync::WriteListArchive(archive, dirs, files);
    TXArray d, f;
    bsync::ReadListArchive(archive, d, f);
    benchmark::DoNotOptimize(f.data());
  }
  state.counters["archive_bytes"] = static_cast<double>(fs::file_size(archive));
}
BENCHMARK(BM_ListArchiveRoundTrip)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
