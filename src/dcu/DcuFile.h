#pragma once
// Compiled units from where they are kept: a unit's own file, or a unit
// image inside a compiled package file.
#include <string_view>

#include "dcp/DCPMan.h"
#include "dcu/DcuUnit.h"

namespace kx {

// What stands for the interface of the package's own unit, which a compiled
// package file keeps no compiled unit for.
inline constexpr std::string_view kNoCompiledUnitText = "No compiled unit for the package source.";

// Reads and decodes a whole .dcu file. EFOpenError "Cannot open file %s",
// EDcuNotUnit, EDcuDamaged (offsets in the file).
DcuUnit DecodeDcuFile(std::string_view windowsFileName);
// Decodes the image of one unit table entry of an open compiled package
// file; messages name the package file and give offsets in it.
DcuUnit DecodeDcpUnit(TDCPStream& s, const TMyDCUInfo& info);

}  // namespace kx
