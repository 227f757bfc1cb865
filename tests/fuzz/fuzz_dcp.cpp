// The compiled package reader over arbitrary bytes, both variants, then what
// the DCP page makes of it: the tree, each unit's Field/Data rows and report,
// and the bytes an extraction would write.
#include "dcp/DCPMan.h"
#include "dcp/DCPPage.h"
#include "fuzz_support.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TDCPStream s = TDCPStream::FromBytes(fuzz::Bytes(data, size), "C:\\pkg\\fuzz.dcp");
  TDCPHeader header;
  TDCUInfoList units;
  std::vector<std::string> resources, requiresNames;
  try {
    ReadDCPContents(s, "fuzz", header, units, resources, requiresNames);
  } catch (const EDCPDamaged&) {
    fuzz::Require(units.empty() && resources.empty() && requiresNames.empty(),
                  "a damaged file handed back lists");
    return 0;
  }
  // Every unit entry takes 21 bytes of the file, every name at least one.
  fuzz::Require(
      units.size() * 21 <= size && requiresNames.size() <= size && resources.size() <= size,
      "more entries than the file can hold");
  TDCPPageContent c = MakeDCPPageContent(s.Name(), units, requiresNames, resources);
  for (const TDCPTreeNode& n : c.Roots[0].Children) {
    DCUInfoData(n.Entry ? &*n.Entry : nullptr);
    if (!n.Entry) continue;
    BuildDCUReport(*n.Entry, DCUReportSourceName(n.Entry->Name, "C:\\pkg\\fuzz.dpl"));
    try {
      std::string bytes = ReadDCUBytes(s, *n.Entry);
      fuzz::Require(bytes.size() == size_t(n.Entry->DCUSize), "extracted size differs");
    } catch (const EDCPDamaged&) {
    }
  }
  TDCPStream again = TDCPStream::FromBytes(fuzz::Bytes(data, size), "C:\\pkg\\fuzz.dcp");
  std::vector<std::string> contains, resources2, requires2;
  try {
    ReadDCPForDPK(again, "fuzz", header, contains, resources2, requires2);
    fuzz::Require(resources2 == resources && requires2 == requiresNames,
                  "the two readers disagree");
  } catch (const EDCPDamaged&) {
  }
  return 0;
}
