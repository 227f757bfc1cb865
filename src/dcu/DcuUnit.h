#pragma once
// Decoder of Delphi 3 compiled units (.dcu), standalone or as an image inside
// a compiled package file. It walks the whole tag stream with one checked
// reader and keeps the records that make up the unit's interface, numbered
// as the compiler numbers them (address numbers for named records, type
// numbers for type definitions), so that references resolve after the read.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dcu/ByteReader.h"

namespace kx {

inline constexpr uint32_t kDcuMagic = 0x44518641;
inline constexpr int32_t kDcuNoValue = INT32_MIN;  // "no index", "no default"

// Limits on what one unit may hold; the compiler's own units stay far below.
inline constexpr int kDcuMaxDepth = 16;
inline constexpr uint32_t kDcuMaxEnumSpan = 65536;

// One parameter, local or member record with the fields a reader needs.
struct DcuParamRec {
  uint8_t Tag = 0;
  std::string Name;
  uint32_t Flags = 0;
  uint32_t TypeRef = 0;
};

struct DcuRoutine {
  uint32_t Flags = 0;       // rflags; 0 without a signature
  uint32_t ResultType = 0;  // T#
  uint8_t CallConv = 0;     // 0x81..0x84, 0 = register
  bool HasSignature = false;
  std::vector<DcuParamRec> Params;  // declared and hidden parameters, then locals
};

struct DcuMember {
  uint8_t Tag = 0;  // ',' field, '-' method, '.' constructor, '/' destructor, '0' property
  uint32_t Addr = 0;
  std::string Name;
  uint32_t Flags = 0;
  int32_t Slot = 0;       // methods
  uint32_t ImplRef = 0;   // class methods: A# of the routine record
  int32_t DispId = 0;     // interface methods, dispinterface members
  uint32_t TypeRef = 0;   // fields, properties; interface methods: the signature
  int32_t Offset = 0;     // fields
  int32_t PropIndex = 0;  // properties
  int32_t IndexValue = kDcuNoValue;
  uint32_t ReadRef = 0, WriteRef = 0, StoredRef = 0;
  int32_t DefaultValue = kDcuNoValue;
  uint32_t Access = 0;  // dispinterface properties
};

// A type: an import (Def 0) or a definition (its tag).
struct DcuType {
  uint8_t Def = 0;
  std::string Name;  // imports
  size_t UsesIndex = 0;
  int32_t RttiSize = 0, Size = 0;
  uint32_t Owner = 0;  // A# of the naming type record
  uint32_t Base = 0;   // ranges: base type; E target; G class; J/K/L/O element...
  uint32_t Index = 0;  // K/L index type
  uint32_t FirstConst = 0;
  int32_t Low = 0, High = 0;
  uint8_t Byte = 0;     // I kind, J first byte, T kind
  uint32_t Flags = 0;   // H hflags, F cflags
  uint32_t Parent = 0;  // F, T, N
  uint8_t Guid[16] = {};
  std::vector<uint32_t> Interfaces;  // F: implemented interface types
  std::vector<DcuMember> Members;    // M fields, F/T/N members
  DcuRoutine Signature;              // H
};

// A record of the main list (or of an embedded list), in file order.
struct DcuDecl {
  uint8_t Tag = 0;
  uint32_t Addr = 0;
  std::string Name;
  uint32_t NameFlags = 0;
  uint32_t TypeRef = 0;
  int32_t Ordinal = 0;       // '%' with no raw bytes
  std::vector<uint8_t> Raw;  // '%' raw value
  bool HasRaw = false;
  DcuRoutine Routine;     // '('
  bool Embedded = false;  // inside a 'j' list
};

// What an address number denotes.
struct DcuAddr {
  enum Role : uint8_t { Uses, Import, Decl, Param, Member };
  Role Kind = Uses;
  uint8_t Tag = 0;
  std::string Name;
  size_t Index = 0;   // into Uses, Decls, the type's Members (with Type), or Params
  uint32_t Type = 0;  // Member: the owning type; Param: the owning decl index + 1
};

struct DcuUses {
  char Kind = 'd';  // 'd' interface, 'e' implementation, 'h' package
  std::string Name;
  uint32_t Stamp = 0;
};

struct DcuSource {
  char Kind = 'p';
  std::string FileName;
  uint32_t DosTime = 0;
  uint32_t Index = 0;
};

struct DcuUnit {
  std::string FileName;  // as given to the decoder, for messages
  uint32_t Size = 0, CompileTime = 0, Stamp = 0;
  uint32_t UnitFlags = 0;
  bool Packaged = false;
  std::vector<DcuSource> Sources;
  std::vector<DcuUses> Uses;
  std::vector<DcuDecl> Decls;
  std::vector<DcuAddr> Addrs;   // [0] unused: numbers are 1-based
  std::vector<DcuType> Types;   // [0] unused
  bool HasScopeTables = false;  // tables 0x92 and 0x94: full symbol information
  std::vector<std::string> Warnings;

  const DcuType* TypeAt(uint32_t t) const { return t && t < Types.size() ? &Types[t] : nullptr; }
  const DcuAddr* AddrAt(uint32_t a) const { return a && a < Addrs.size() ? &Addrs[a] : nullptr; }
  // The routine record an address number denotes, if any.
  const DcuDecl* RoutineAt(uint32_t a) const;
};

// Decodes one unit image; the image must end exactly where its header says.
// fileName names the unit in messages; base is the image's offset in that
// file. EDcuNotUnit, EDcuDamaged.
DcuUnit DecodeDcu(std::span<const uint8_t> image, std::string_view fileName, uint64_t base = 0);

// True when the bytes start like a Delphi 3 compiled unit.
bool LooksLikeDcu(std::span<const uint8_t> bytes);

}  // namespace kx
