// The PE image view over arbitrary bytes, in both layouts: headers, section
// table, RVA translation and the export and import directories.
#include "fuzz_support.h"
#include "platform/pe_image.h"

using namespace kx;

namespace {

void Walk(std::span<const uint8_t> data, PeImage::Layout layout) {
  std::optional<PeImage> image;
  try {
    image.emplace(data, layout);
  } catch (const EReadError&) {  // EBadImageFormat included
    return;
  }
  for (const PeSection& s : image->Sections()) {
    if (auto off = image->RvaToOffset(s.virtualAddress, s.sizeOfRawData))
      fuzz::Require(*off <= data.size() && s.sizeOfRawData <= data.size() - *off,
                    "RvaToOffset gave a range outside the data");
  }
  for (int i = 0; i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i) {
    PeDataDirectory d = image->Directory(i);
    if (auto off = image->RvaToOffset(d.rva, d.size))
      fuzz::Require(*off <= data.size() && d.size <= data.size() - *off,
                    "RvaToOffset gave a range outside the data");
  }
  try {
    if (auto dir = image->ExportDirectory()) {
      for (const PeExport& e : image->Exports())
        fuzz::Require(e.ordinal - dir->ordinalBase < dir->numberOfFunctions,
                      "export ordinal outside the address table");
    }
  } catch (const EReadError&) {
  }
  try {
    image->Imports();
  } catch (const EReadError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  Walk(bytes, PeImage::Layout::File);
  Walk(bytes, PeImage::Layout::Mapped);
  return 0;
}
