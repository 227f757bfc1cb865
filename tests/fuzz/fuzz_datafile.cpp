// The data-file load (exports, imports, resources read without resolving
// anything) and GetPackageKind, which maps a file as data to read its flags.
#include "fuzz_support.h"
#include "package/PackMan.h"
#include "package/PackPages.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  test::TempPrefix& prefix = fuzz::Prefix();
  prefix.WriteFile("C:\\pkg\\fuzz.dll", fuzz::Bytes(data, size));
  const size_t before = fuzz::LoadedModuleCount();
  try {
    GetPackageKind("C:\\pkg\\fuzz.dll");
  } catch (const Exception&) {
  }
  fuzz::Require(fuzz::LoadedModuleCount() == before, "GetPackageKind kept the file mapped");
  {
    TPackageModuleInfo m;
    try {
      m.LoadAsData("C:\\pkg\\fuzz.dll");
      m.ReadExportTables();
    } catch (const Exception&) {
    }
    if (m.Loaded()) {
      NullMeter meter;
      try {
        FillExportList(m, meter);
        FillImportList(m);
        m.ReadResources();
        ShowResourceTree(m.ResourceLines);
      } catch (const Exception&) {
      }
    }
    try {
      m.Clear();
    } catch (const Exception&) {
    }
  }
  fuzz::Require(fuzz::LoadedModuleCount() == before, "the data file stayed mapped");
  return 0;
}
