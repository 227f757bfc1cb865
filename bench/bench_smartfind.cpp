// The SmartFind search over a generated tree of 100,000 files in 1,111
// folders, 10,000 of them matching "*.pas": the finder plus the page's row
// work (one open per file, the ten cells), against
// find ROOT -iname MASK -printf '%s %TD\n' on the same tree in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "search/PackSearch.h"
#include "support/test_system.h"

namespace {

using namespace kx;
namespace fs = std::filesystem;

constexpr int kTop = 10, kMiddle = 10, kLeaves = 10, kFilesPerFolder = 90;
const char* const kExtensions[] = {".dcu", ".txt", ".dcu", ".obj", ".res",
                                   ".hpp", ".dcu", ".cpp", ".dfm"};  // 9 of 10 do not match

struct Tree {
  Tree() {
    prefix = std::make_unique<test::TempPrefix>();
    root = prefix->Host("C:\\tree");
    // 10 x 10 x 10 leaves of 90 files, plus 90 in each upper folder:
    // 1,111 folders x 90 files = 99,990 files (+10 in the root).
    int n = 0;
    const auto fill = [&n](const fs::path& dir) {
      fs::create_directories(dir);
      for (int f = 0; f < kFilesPerFolder; ++f, ++n) {
        const std::string ext = n % 10 == 0 ? ".PAS" : kExtensions[n % 9];
        std::ofstream(dir / ("file" + std::to_string(n) + ext))
            << std::string(size_t(n % 2000), 'x');
      }
    };
    fill(root);
    for (int a = 0; a < kTop; ++a) {
      const fs::path da = root / ("dir" + std::to_string(a));
      fill(da);
      for (int b = 0; b < kMiddle; ++b) {
        const fs::path db = da / ("Sub" + std::to_string(b));
        fill(db);
        for (int c = 0; c < kLeaves; ++c) fill(db / ("leaf" + std::to_string(c)));
      }
    }
    for (; n < 100000; ++n)
      std::ofstream(root / ("extra" + std::to_string(n) + (n % 10 == 0 ? ".PAS" : ".txt")));
  }
  std::unique_ptr<test::TempPrefix> prefix;
  fs::path root;
};

Tree& Shared() {
  static Tree t;
  return t;
}

// The search as the page runs it: every match opened once for its cells.
void BM_SmartFindSearchWithRows(benchmark::State& state) {
  Shared();
  const std::vector<std::string> none;
  const TFindRowContext context{&none, &none, &none, {}};
  const bool rows = state.range(0) != 0;
  size_t found = 0;
  for (auto _ : state) {
    found = 0;
    TFileFinder finder;
    ConfigurePackSearch(finder, PackSearchRoots(smFolder, "*.pas", "C:\\tree", false, "", ""),
                        "*.pas", false);
    finder.OnAddFile = [&](const TFoundFile& file, bool&) {
      if (rows) benchmark::DoNotOptimize(MakeFindRow(file.fileName, context, &file.hostPath));
      ++found;
    };
    finder.Execute();
  }
  state.counters["files"] = double(found);
}
// 0: the finder alone; 1: with the rows.
BENCHMARK(BM_SmartFindSearchWithRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindCommand(benchmark::State& state) {
  const std::string printf = state.range(0) != 0 ? " -printf '%s %TD\\n'" : "";
  const std::string command =
      "find '" + Shared().root.string() + "' -iname '*.pas'" + printf + " > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("find failed");
}
// 0: find -iname; 1: find -iname -printf '%s %TD\n'.
BENCHMARK(BM_FindCommand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
