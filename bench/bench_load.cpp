// Loading a large package and filling its Export and Structure pages: a
// synthetic package library with 500 units and 20,002 exports.
#include <benchmark/benchmark.h>

#include <memory>

#include "package/PackMan.h"
#include "package/PackPages.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace {

using namespace kx;

constexpr int kUnits = 500;
constexpr int kExportsPerUnit = 40;  // 20,002 in all with Initialize and Finalize

struct Fixture {
  Fixture() {
    prefix = std::make_unique<test::TempPrefix>();
    prefix->WriteFile("C:\\bench\\bigpack.dpl",
                      test::BuildPe(test::LargePackageSpec(kUnits, kExportsPerUnit)));
  }
  std::unique_ptr<test::TempPrefix> prefix;
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_LoadAndReadExportTables(benchmark::State& state) {
  Shared();
  TPackageModuleInfo m;
  for (auto _ : state) {
    m.Load("C:\\bench\\bigpack.dpl");
    m.ReadExportTables();
    benchmark::DoNotOptimize(m.NameCount);
  }
  state.counters["exports"] = m.NameCount;
  state.counters["units"] = double(m.Contains.size());
}
BENCHMARK(BM_LoadAndReadExportTables)->Unit(benchmark::kMillisecond);

void BM_FillExportList(benchmark::State& state) {
  Shared();
  TPackageModuleInfo m;
  m.Load("C:\\bench\\bigpack.dpl");
  m.ReadExportTables();
  NullMeter meter;
  for (auto _ : state) {
    ExportListResult r = FillExportList(m, meter);
    benchmark::DoNotOptimize(r.rows.data());
  }
}
BENCHMARK(BM_FillExportList)->Unit(benchmark::kMillisecond);

void BM_BuildStructure(benchmark::State& state) {
  Shared();
  TPackageModuleInfo m;
  m.Load("C:\\bench\\bigpack.dpl");
  m.ReadExportTables();
  NullMeter meter;
  int classes = 0;
  for (auto _ : state) {
    StructureResult r = BuildStructure(m, meter);
    classes = r.classCount;
    benchmark::DoNotOptimize(r.root.children.data());
  }
  state.counters["classes"] = classes;
}
BENCHMARK(BM_BuildStructure)->Unit(benchmark::kMillisecond);

// The whole first visit of the Export/Import/Structure pages.
void BM_ShowNames(benchmark::State& state) {
  Shared();
  TPackageModuleInfo m;
  m.Load("C:\\bench\\bigpack.dpl");
  m.ReadExportTables();
  NullMeter meter;
  for (auto _ : state) {
    PackageNames names = ShowNames(m, meter);
    benchmark::DoNotOptimize(names.exports.rows.data());
  }
}
BENCHMARK(BM_ShowNames)->Unit(benchmark::kMillisecond);

}  // namespace
