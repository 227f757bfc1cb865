// Crafted programs against the deployment walk, built here at run time:
//  - BM_ScanOverlappingNames / BM_DeployOverlappingNames: a 420 KB program
//    whose 1,000 import descriptors name overlapping suffixes of one 400 KB
//    string (goal: scan under 0.2 s, deploy under 1 s and 64 MB);
//  - BM_ScanEightMegabytes: an 8 MB program of 200,000 descriptors, each
//    naming a different empty string (goal: under 0.2 s and 16 MB);
//  - BM_Deploy1000Missing: a program on C: importing 1,000 distinct modules
//    found nowhere, with 50,000 files on C: (goal: under 5 s).
// cli_ms and cli_peak_mb are one run of `kestrix-cli deploy` on the same
// file in a process of its own (the scan with everything around it).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "deploy/DeployReport.h"
#include "deploy/StaticEXE.h"
#include "platform/system.h"
#include "search/ModuleSearch.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace {

using namespace kx;
namespace fs = std::filesystem;

// Runs kestrix-cli deploy on a host file in a child and records its time
// and peak memory.
void CliDeploy(benchmark::State& state, const fs::path& file) {
  const std::string prefix = fs::path(file).parent_path().parent_path().parent_path().string();
  const fs::path cli =
      fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "kestrix-cli";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    setenv("WINEPREFIX", prefix.c_str(), 1);  // <prefix>/drive_c/app/FILE
    execl(cli.c_str(), cli.c_str(), "deploy", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  state.counters["cli_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  state.counters["cli_peak_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// count descriptors (named m0.dll ...), whose names are then pointed at
// consecutive offsets of `tail` bytes of `fill` appended to the file.
std::vector<uint8_t> Crafted(int count, size_t tail, uint8_t fill) {
  test::PeSpec spec;
  spec.dll = false;
  for (int i = 0; i < count; ++i)
    spec.imports.push_back({"m" + std::to_string(i) + ".dll", {}, {}});
  test::PeLayout l;
  std::vector<uint8_t> b = test::BuildPe(spec, &l);
  uint32_t delta = 0;
  for (const auto& s : l.sections)
    if (l.importDir >= s.rva && l.importDir < s.rva + s.virtualSize) delta = s.rva - s.rawOffset;
  const auto at = static_cast<uint32_t>(b.size());
  b.resize(b.size() + tail, fill);
  b.push_back(0);
  for (uint32_t d = 0; d < static_cast<uint32_t>(count); ++d)
    test::Put32(b, l.Offset(l.importDir) + 20 * d + 12, at + d + delta);
  return b;
}

void BM_ScanOverlappingNames(benchmark::State& state) {
  test::TempPrefix prefix;
  prefix.WriteFile("C:\\app\\hostile.exe", Crafted(1000, 400 * 1024, 'A'));
  for (auto _ : state) {
    std::vector<std::string> names;
    if (ReadStaticImports("C:\\app\\hostile.exe", names)) state.SkipWithError("accepted");
  }
  CliDeploy(state, prefix.Host("C:\\app\\hostile.exe"));
}
BENCHMARK(BM_ScanOverlappingNames)->Unit(benchmark::kMillisecond);

void BM_ScanEightMegabytes(benchmark::State& state) {
  test::TempPrefix prefix;
  // Zero bytes after the descriptors: every name is empty, each at its own offset.
  prefix.WriteFile("C:\\app\\big.exe", Crafted(200000, 200000, 0));
  state.counters["file_mb"] =
      static_cast<double>(fs::file_size(prefix.Host("C:\\app\\big.exe"))) / (1024.0 * 1024.0);
  for (auto _ : state) {
    std::vector<std::string> names;
    benchmark::DoNotOptimize(ReadStaticImports("C:\\app\\big.exe", names));
  }
  CliDeploy(state, prefix.Host("C:\\app\\big.exe"));
}
BENCHMARK(BM_ScanEightMegabytes)->Unit(benchmark::kMillisecond);

void RunDeploy(benchmark::State& state, const std::string& app) {
  TDeploySettings settings;
  settings.SystemDirectory = "C:\\windows\\system32";
  size_t missing = 0;
  for (auto _ : state) {
    TFileFinder finder;
    TModuleSearch search(finder);
    settings.FindModuleFile = [&search](const std::string& n, std::string& p) {
      return search.Find(n, p);
    };
    TDeployResult r;
    RunDeployAnalysis(app, settings, r);
    missing = r.Rows.size();
  }
  if (auto host = Sys().ToHost(app)) CliDeploy(state, *host);
  state.counters["modules"] = static_cast<double>(missing);
}

void BM_DeployOverlappingNames(benchmark::State& state) {
  test::TempPrefix prefix;
  prefix.WriteFile("C:\\app\\hostile.exe", Crafted(1000, 400 * 1024, 'A'));
  prefix.System().SetCurrentDirectory("C:\\app");
  RunDeploy(state, "C:\\app\\hostile.exe");
}
BENCHMARK(BM_DeployOverlappingNames)->Unit(benchmark::kMillisecond);

void BM_Deploy1000Missing(benchmark::State& state) {
  test::TempPrefix prefix;
  test::PeSpec app;
  app.dll = false;
  for (int i = 0; i < 1000; ++i)
    app.imports.push_back({"gone" + std::to_string(i) + ".dll", {}, {}});
  prefix.WriteFile("C:\\app\\many.exe", test::BuildPe(app));
  for (int d = 0; d < 500; ++d) {
    const fs::path dir =
        prefix.Host("C:\\files\\d" + std::to_string(d / 25) + "\\s" + std::to_string(d));
    fs::create_directories(dir);
    for (int f = 0; f < 100; ++f) std::ofstream(dir / ("f" + std::to_string(f) + ".dat")) << "x";
  }
  prefix.System().SetCurrentDirectory("C:\\app");
  RunDeploy(state, "C:\\app\\many.exe");
}
BENCHMARK(BM_Deploy1000Missing)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
