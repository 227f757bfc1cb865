#pragma once
// Shared by the fuzz harnesses: one private Windows personality for the whole
// run, and a check that turns a broken invariant into a crash libFuzzer
// reports with the input that caused it.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/system.h"
#include "support/test_system.h"

namespace kx::fuzz {

// A prefix whose system folder holds the fixture package libraries, so that
// a fuzzed module's imports of them resolve and load. Made on first use and
// removed when the run ends.
inline test::TempPrefix*& PrefixSlot() {
  static test::TempPrefix* prefix = nullptr;
  return prefix;
}

inline test::TempPrefix& Prefix() {
  test::TempPrefix*& prefix = PrefixSlot();
  if (!prefix) {
    prefix = new test::TempPrefix();
    for (const char* name : {"vcl30.dpl", "vclx30.dpl"})
      prefix->WriteFile(std::string("C:\\windows\\system32\\") + name,
                        test::ReadHostFile(std::string(KX_FIXTURES_DIR) + "/bin/" + name));
    std::atexit([] {
      delete PrefixSlot();
      PrefixSlot() = nullptr;
    });
  }
  return *prefix;
}

inline std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) {
  return std::vector<uint8_t>(data, data + size);
}

// Aborts with a message when an invariant does not hold.
inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Modules held by the emulated process (data files included).
inline size_t LoadedModuleCount() { return Sys().Proc().Modules().size(); }

}  // namespace kx::fuzz
