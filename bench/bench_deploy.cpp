// The deployment walk over a synthetic application that reaches 100
// modules, and the file finder over a generated tree of 100,000 files next
// to `find ROOT -iname MASK` on the same tree.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "deploy/DeployReport.h"
#include "search/ModuleSearch.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace {

using namespace kx;
namespace fs = std::filesystem;

// app.exe imports mod00..mod09; modNN (NN < 10) imports mod(NN*9+10) to
// mod(NN*9+18): 10 + 90 = 100 modules in C:\bench (the current directory),
// each exporting "Go" and importing KERNEL32.dll as well.
struct WalkFixture {
  std::unique_ptr<test::TempPrefix> prefix = std::make_unique<test::TempPrefix>();
  WalkFixture() {
    const auto name = [](int i) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "mod%02d.dll", i);
      return std::string(buf);
    };
    for (int i = 0; i < 100; ++i) {
      test::PeSpec spec;
      spec.imageBase = 0x10000000 + static_cast<uint32_t>(i) * 0x100000;
      spec.exports = {{"Go"}};
      if (i < 10)
        for (int c = i * 9 + 10; c < i * 9 + 19; ++c) spec.imports.push_back({name(c), {"Go"}, {}});
      spec.imports.push_back({"KERNEL32.dll", {"GetVersion"}, {}});
      prefix->WriteFile("C:\\bench\\" + name(i), test::BuildPe(spec));
    }
    test::PeSpec app;
    app.dll = false;
    for (int i = 0; i < 10; ++i) app.imports.push_back({name(i), {"Go"}, {}});
    prefix->WriteFile("C:\\bench\\app.exe", test::BuildPe(app));
    prefix->System().SetCurrentDirectory("C:\\bench");
  }
};

void BM_DeployWalk100Modules(benchmark::State& state) {
  WalkFixture f;
  TFileFinder finder;
  TDeploySettings settings;
  settings.SystemDirectory = "C:\\windows\\system32";
  size_t modules = 0;
  for (auto _ : state) {
    TModuleSearch search(finder);  // one per analysis, as the page has it
    settings.FindModuleFile = [&search](const std::string& n, std::string& p) {
      return search.Find(n, p);
    };
    TDeployResult r;
    RunDeployAnalysis("C:\\bench\\app.exe", settings, r);
    modules = r.Rows.size();
    benchmark::DoNotOptimize(r);
  }
  state.counters["modules"] = static_cast<double>(modules);
}
BENCHMARK(BM_DeployWalk100Modules)->Unit(benchmark::kMillisecond);

// 20 x 50 folders of 100 files each; one file in a hundred is a ".DPL".
struct TreeFixture {
  std::unique_ptr<test::TempPrefix> prefix = std::make_unique<test::TempPrefix>();
  fs::path root;
  TreeFixture() {
    root = prefix->Host("C:\\tree");
    int n = 0;
    for (int a = 0; a < 20; ++a) {
      for (int b = 0; b < 50; ++b) {
        const fs::path dir = root / ("d" + std::to_string(a)) / ("s" + std::to_string(b));
        fs::create_directories(dir);
        for (int i = 0; i < 100; ++i, ++n) {
          const std::string file = n % 100 == 0 ? "pkg" + std::to_string(n) + ".DPL"
                                                : "unit" + std::to_string(n) + ".pas";
          std::ofstream(dir / file) << "x";
        }
      }
    }
  }
};

TreeFixture& Tree() {
  static TreeFixture t;
  return t;
}

void BM_Finder100kFiles(benchmark::State& state) {
  Tree();
  TFileFinder finder;
  finder.Roots = {"C:\\tree"};
  finder.Mask = "*.dpl";
  for (auto _ : state) {
    finder.Execute();
    if (finder.FilesFound() != 1000) state.SkipWithError("wrong count");
  }
}
BENCHMARK(BM_Finder100kFiles)->Unit(benchmark::kMillisecond);

void BM_FindIname100kFiles(benchmark::State& state) {
  const std::string cmd = "find '" + Tree().root.string() + "' -iname '*.dpl' > /dev/null";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("find failed");
  }
}
BENCHMARK(BM_FindIname100kFiles)->Unit(benchmark::kMillisecond);

}  // namespace
