// The static import scanner over arbitrary bytes: through the file mapping
// as the deployment walk uses it, and over the bytes directly. Both must
// agree, and every name lies inside the file.
#include "deploy/StaticEXE.h"
#include "fuzz_support.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  test::TempPrefix& prefix = fuzz::Prefix();
  prefix.WriteFile("C:\\app\\fuzz.exe", fuzz::Bytes(data, size));
  std::vector<std::string> mapped = {"KERNEL32.DLL"};
  bool okMapped = ReadStaticImports("C:\\app\\fuzz.exe", mapped);
  std::vector<std::string> direct = {"KERNEL32.DLL"};
  bool okDirect = size >= 2 && data[0] == 'M' && data[1] == 'Z' &&
                  ScanImportDirectory(std::span<const uint8_t>(data, size), direct);
  fuzz::Require(okMapped == okDirect, "the mapped and the direct scan disagree");
  if (okMapped) fuzz::Require(mapped == direct, "the mapped and the direct scan list differently");
  // Names may overlap in the file, but each lies inside it and each takes a
  // descriptor of 20 bytes.
  for (size_t i = 1; i < mapped.size(); ++i)
    fuzz::Require(mapped[i].size() <= size, "a name longer than the file");
  fuzz::Require(mapped.size() <= size / 20 + 1, "more names than descriptors fit in the file");
  return 0;
}
