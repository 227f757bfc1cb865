// A whole package load as the load flow does it, then the four page fills:
// export list, structure tree, import list and resource tree. Every module
// the load brought in must be released again afterwards.
#include "fuzz_support.h"
#include "package/PackMan.h"
#include "package/PackPages.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  test::TempPrefix& prefix = fuzz::Prefix();
  prefix.WriteFile("C:\\pkg\\fuzz.dpl", fuzz::Bytes(data, size));
  const size_t before = fuzz::LoadedModuleCount();
  {
    TPackageModuleInfo m;
    try {
      m.Load("C:\\pkg\\fuzz.dpl");
      m.ReadExportTables();
    } catch (const Exception&) {
    }
    if (m.Loaded()) {
      NullMeter meter;
      try {
        ShowNames(m, meter);
        m.ReadResources();
        ShowResourceTree(m.ResourceLines);
        m.GetDescription();
      } catch (const Exception&) {
      }
    }
    try {
      m.Clear();
    } catch (const Exception&) {
    }
  }
  fuzz::Require(fuzz::LoadedModuleCount() == before, "a module stayed loaded");
  return 0;
}
