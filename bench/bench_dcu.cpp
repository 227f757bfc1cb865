// Decoding compiled units: one unit of about 100 KB (decoded, and decoded
// and rendered as Pascal text), and every unit of a compiled package file of
// 100 units.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

#include "dcu/DcuFile.h"
#include "dcu/DcuInterface.h"
#include "support/dcp_builder.h"

namespace {

using namespace kx;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

const std::vector<uint8_t>& BigUnit() {
  static const std::vector<uint8_t> bytes = ReadAll(KX_BENCH_DCU);
  return bytes;
}

void BM_DecodeUnit100KB(benchmark::State& state) {
  const auto& b = BigUnit();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeDcu(b, "Bench230.dcu").Decls.size());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
  state.counters["unit_bytes"] = double(b.size());
}
BENCHMARK(BM_DecodeUnit100KB)->Unit(benchmark::kMillisecond);

void BM_DecodeAndRenderUnit100KB(benchmark::State& state) {
  const auto& b = BigUnit();
  for (auto _ : state)
    benchmark::DoNotOptimize(DcuInterfaceText(MakeDcuInterface(DecodeDcu(b, "Bench230.dcu"))));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}
BENCHMARK(BM_DecodeAndRenderUnit100KB)->Unit(benchmark::kMillisecond);

// 100 units (the fixture units, in turn) and the package's own unit.
void BM_DecodeAllUnitsOf100UnitDcp(benchmark::State& state) {
  const char* names[] = {"Gauges2", "Shapes3", "DemoCtrls", "DemoUtils", "DemoReg"};
  test::DcpBuilder b;
  for (int i = 0; i < 100; ++i) {
    test::DcpUnit u;
    u.name = std::string(names[i % 5]) + std::to_string(i);
    u.image = ReadAll(std::string(KX_FIXTURES_DIR) + "/dcu/" + names[i % 5] + ".dcu");
    b.units.push_back(std::move(u));
  }
  b.units.push_back({"bench", 0, 0, {}});
  TDCPStream s = TDCPStream::FromBytes(b.Build(), "bench.dcp");
  TDCPHeader header;
  TDCUInfoList units;
  std::vector<std::string> resources, requiresNames;
  ReadDCPContents(s, "bench", header, units, resources, requiresNames);
  for (auto _ : state) {
    size_t lines = 0;
    for (size_t i = 0; i + 1 < units.size(); ++i)
      lines += DcuInterfaceText(MakeDcuInterface(DecodeDcpUnit(s, units[i]))).size();
    benchmark::DoNotOptimize(lines);
  }
  state.counters["dcp_bytes"] = double(s.Size());
}
BENCHMARK(BM_DecodeAllUnitsOf100UnitDcp)->Unit(benchmark::kMillisecond);

}  // namespace
