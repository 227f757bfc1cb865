#include "dcu/DcuFile.h"

#include "dcp/DCPPage.h"
#include "platform/files.h"

namespace kx {

DcuUnit DecodeDcuFile(std::string_view windowsFileName) {
  auto bytes = ReadFileBytes(windowsFileName);
  if (!bytes) throw EFOpenError("Cannot open file " + std::string(windowsFileName));
  return DecodeDcu(*bytes, windowsFileName);
}

DcuUnit DecodeDcpUnit(TDCPStream& s, const TMyDCUInfo& info) {
  if (info.DCUSize < 0 || info.DCUOffset > s.Size() ||
      uint64_t(info.DCUSize) > s.Size() - info.DCUOffset)
    throw EDcuDamaged(s.Name(), info.DCUOffset, "the unit " + info.Name + " lies outside the file");
  const std::string bytes = ReadDCUBytes(s, info);
  return DecodeDcu({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, s.Name(),
                   info.DCUOffset);
}

}  // namespace kx
