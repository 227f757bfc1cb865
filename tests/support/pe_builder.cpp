#include "support/pe_builder.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

namespace kx::test {

namespace {

constexpr uint32_t kFileAlign = 0x200;
constexpr uint32_t kSectionAlign = 0x1000;
constexpr uint32_t kNtOffset = 0x80;
constexpr uint32_t kOptionalHeaderSize = 0xE0;
constexpr uint32_t kTextRva = 0x1000;

uint32_t AlignUp(uint32_t value, uint32_t align) { return (value + align - 1) / align * align; }

// A growing little-endian byte buffer.
struct Buf {
  std::vector<uint8_t> b;
  uint32_t size() const { return static_cast<uint32_t>(b.size()); }
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void bytes(const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); }
  void str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
  void cstr(const std::string& s) {
    str(s);
    u8(0);
  }
  void pad(uint32_t align) {
    while (b.size() % align) b.push_back(0);
  }
  void set32(uint32_t at, uint32_t v) { Put32(b, at, v); }
};

// Case-insensitive (ASCII letters) UTF-16 order used for named resource
// entries, ties broken by the exact code units.
bool ResNameLess(const std::u16string& a, const std::u16string& b) {
  auto up = [](char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; };
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = up(a[i]), y = up(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// Key of one resource directory entry: named entries sort before id entries.
struct ResKey {
  bool isId;
  uint16_t id;
  std::u16string name;
  bool operator<(const ResKey& o) const {
    if (isId != o.isId) return !isId;  // names first
    if (isId) return id < o.id;
    return ResNameLess(name, o.name);
  }
};

ResKey KeyOf(const PeResName& n) {
  if (n.isId) return {true, n.id, {}};
  return {false, 0, Utf8ToUtf16ForTest(n.name)};
}

std::string Describe(const PeResName& n) {
  return n.isId ? "#" + std::to_string(n.id) : "\"" + n.name + "\"";
}

// Builds .rsrc content for a section at `rva`.
std::vector<uint8_t> BuildResourceSection(const std::vector<PeResource>& resources, uint32_t rva) {
  using LangMap = std::map<uint16_t, const PeResource*>;
  using NameMap = std::map<ResKey, LangMap>;
  std::map<ResKey, NameMap> tree;
  for (const auto& r : resources) {
    auto& langs = tree[KeyOf(r.type)][KeyOf(r.name)];
    if (!langs.emplace(r.lang, &r).second)
      throw std::invalid_argument("duplicate resource " + Describe(r.type) + "/" +
                                  Describe(r.name) + "/" + std::to_string(r.lang));
  }
  auto dirSize = [](size_t entries) { return static_cast<uint32_t>(16 + 8 * entries); };

  // Directories first (root, then every type's name directory, then every
  // language directory), then the strings, the data entries and the data.
  uint32_t pos = dirSize(tree.size());
  std::map<const NameMap*, uint32_t> nameDirAt;
  for (auto& [type, names] : tree) {
    nameDirAt[&names] = pos;
    pos += dirSize(names.size());
  }
  std::map<const LangMap*, uint32_t> langDirAt;
  for (auto& [type, names] : tree)
    for (auto& [name, langs] : names) {
      langDirAt[&langs] = pos;
      pos += dirSize(langs.size());
    }
  std::map<std::u16string, uint32_t> stringAt;
  auto addString = [&](const ResKey& k) {
    if (k.isId || stringAt.count(k.name)) return;
    stringAt[k.name] = pos;
    pos += 2 + 2 * static_cast<uint32_t>(k.name.size());
  };
  for (auto& [type, names] : tree) {
    addString(type);
    for (auto& [name, langs] : names) addString(name);
  }
  pos = AlignUp(pos, 4);
  std::map<const PeResource*, uint32_t> dataEntryAt;
  for (auto& [type, names] : tree)
    for (auto& [name, langs] : names)
      for (auto& [lang, res] : langs) {
        dataEntryAt[res] = pos;
        pos += 16;
      }
  std::map<const PeResource*, uint32_t> dataAt;
  for (auto& [type, names] : tree)
    for (auto& [name, langs] : names)
      for (auto& [lang, res] : langs) {
        pos = AlignUp(pos, 8);
        dataAt[res] = pos;
        pos += static_cast<uint32_t>(res->data.size());
      }

  Buf out;
  auto writeDir = [&](size_t named, size_t ids) {
    out.u32(0);  // Characteristics
    out.u32(0);  // TimeDateStamp
    out.u16(0);  // MajorVersion
    out.u16(0);  // MinorVersion
    out.u16(static_cast<uint16_t>(named));
    out.u16(static_cast<uint16_t>(ids));
  };
  auto entryName = [&](const ResKey& k) { return k.isId ? k.id : 0x80000000u | stringAt[k.name]; };
  auto countNamed = [](const auto& m) {
    size_t n = 0;
    for (auto& [k, v] : m) n += k.isId ? 0 : 1;
    return n;
  };

  writeDir(countNamed(tree), tree.size() - countNamed(tree));
  for (auto& [type, names] : tree) {
    out.u32(entryName(type));
    out.u32(0x80000000u | nameDirAt[&names]);
  }
  for (auto& [type, names] : tree) {
    writeDir(countNamed(names), names.size() - countNamed(names));
    for (auto& [name, langs] : names) {
      out.u32(entryName(name));
      out.u32(0x80000000u | langDirAt[&langs]);
    }
  }
  for (auto& [type, names] : tree)
    for (auto& [name, langs] : names) {
      writeDir(0, langs.size());
      for (auto& [lang, res] : langs) {
        out.u32(lang);
        out.u32(dataEntryAt[res]);
      }
    }
  std::vector<std::pair<uint32_t, std::u16string>> strings;
  for (auto& [s, at] : stringAt) strings.emplace_back(at, s);
  std::sort(strings.begin(), strings.end());
  for (auto& [at, s] : strings) {
    if (out.size() != at) throw std::logic_error("resource string layout");
    out.u16(static_cast<uint16_t>(s.size()));
    for (char16_t c : s) out.u16(static_cast<uint16_t>(c));
  }
  out.pad(4);
  for (auto& [type, names] : tree)
    for (auto& [name, langs] : names)
      for (auto& [lang, res] : langs) {
        out.u32(rva + dataAt[res]);
        out.u32(static_cast<uint32_t>(res->data.size()));
        out.u32(0);  // CodePage
        out.u32(0);  // Reserved
      }
  for (auto& [type, names] : tree)
    for (auto& [name, langs] : names)
      for (auto& [lang, res] : langs) {
        out.pad(8);
        out.bytes(res->data);
      }
  return out.b;
}

uint8_t NameHash(const std::string& name) {
  // Any byte serves: readers skip it. A simple case-insensitive fold keeps the
  // files looking like the real thing.
  uint8_t h = 0;
  for (unsigned char c : name) {
    unsigned char u = (c >= 'a' && c <= 'z') ? c - 32 : c;
    h = static_cast<uint8_t>(((h << 1) | (h >> 7)) ^ u);
  }
  return h;
}

}  // namespace

PeResName PeResName::Id(uint16_t id) {
  PeResName n;
  n.isId = true;
  n.id = id;
  return n;
}

PeResName PeResName::Name(std::string name) {
  PeResName n;
  n.isId = false;
  n.name = std::move(name);
  return n;
}

uint32_t PeLayout::Offset(uint32_t rva) const {
  for (const auto& s : sections)
    if (rva >= s.rva && rva - s.rva < s.rawSize) return s.rawOffset + (rva - s.rva);
  throw std::out_of_range("RVA outside every section");
}

std::vector<uint8_t> BuildPe(const PeSpec& spec) { return BuildPe(spec, nullptr); }

std::vector<uint8_t> BuildPe(const PeSpec& spec, PeLayout* layoutOut) {
  PeLayout layout;
  const size_t nExp = spec.exports.size();

  // --- Ordinals -----------------------------------------------------------
  std::vector<uint16_t> ordinals(nExp, 0);
  std::set<uint32_t> used;
  for (size_t i = 0; i < nExp; ++i) {
    const auto& e = spec.exports[i];
    if (e.ordinal == 0) continue;
    if (e.ordinal < spec.ordinalBase)
      throw std::invalid_argument("export ordinal below the ordinal base: " + e.name);
    if (!used.insert(e.ordinal).second)
      throw std::invalid_argument("duplicate export ordinal " + std::to_string(e.ordinal));
    ordinals[i] = e.ordinal;
  }
  uint32_t next = spec.ordinalBase;
  for (size_t i = 0; i < nExp; ++i) {
    if (ordinals[i]) continue;
    while (used.count(next)) ++next;
    if (next > 0xFFFF) throw std::invalid_argument("export ordinals exhausted");
    ordinals[i] = static_cast<uint16_t>(next);
    used.insert(next);
  }

  // --- .text: entry stub, a pointer to itself (relocated), export stubs,
  //     import thunks (jmp dword ptr [IAT slot], relocated) -----------------
  std::vector<uint32_t> stubAt(nExp, 0);
  uint32_t textPos = 12;  // entry stub (8 bytes) + self pointer (4 bytes)
  for (size_t i = 0; i < nExp; ++i)
    if (spec.exports[i].rva == 0 && spec.exports[i].forwarder.empty()) {
      stubAt[i] = textPos;
      textPos += 4;
    }
  size_t nImportSlots = 0;
  for (const auto& imp : spec.imports) nImportSlots += imp.names.size() + imp.ordinals.size();
  const uint32_t thunksAt = textPos;
  textPos += static_cast<uint32_t>(8 * nImportSlots);
  const uint32_t textSize = textPos;
  Buf text;
  text.b.assign(textSize, 0xCC);
  // mov eax, 1 ; ret 0Ch  (or ret for a program's entry point)
  const uint8_t entryDll[8] = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x0C, 0x00};
  const uint8_t entryExe[8] = {0x31, 0xC0, 0xC3, 0x90, 0x90, 0x90, 0x90, 0x90};
  std::copy(spec.dll ? entryDll : entryExe, (spec.dll ? entryDll : entryExe) + 8, text.b.begin());
  text.set32(8, spec.imageBase + kTextRva);
  for (size_t i = 0; i < nExp; ++i)
    if (stubAt[i]) {
      // xor eax, eax ; ret ; nop
      text.b[stubAt[i]] = 0x31;
      text.b[stubAt[i] + 1] = 0xC0;
      text.b[stubAt[i] + 2] = 0xC3;
      text.b[stubAt[i] + 3] = 0x90;
    }
  std::vector<uint32_t> relocRvas = {kTextRva + 8};
  layout.entryPoint = kTextRva;

  // --- Section RVAs --------------------------------------------------------
  uint32_t nextRva = kTextRva + AlignUp(textSize, kSectionAlign);
  const bool hasExports = nExp > 0 || spec.emptyExportDirectory;
  const bool hasRdata = hasExports || !spec.imports.empty();
  const uint32_t rdataRva = hasRdata ? nextRva : 0;

  // --- .rdata: export directory, then import directory ---------------------
  Buf rdata;
  std::vector<uint32_t> finalRva(nExp, 0);
  if (hasExports) {
    uint32_t minOrd = spec.ordinalBase, maxOrd = spec.ordinalBase - 1;
    for (uint16_t o : ordinals) maxOrd = std::max<uint32_t>(maxOrd, o);
    const uint32_t nFunctions = nExp ? maxOrd - minOrd + 1 : 0;
    std::vector<size_t> named;
    for (size_t i = 0; i < nExp; ++i)
      if (!spec.exports[i].noName) named.push_back(i);
    if (!spec.keepExportOrder)
      std::stable_sort(named.begin(), named.end(), [&](size_t a, size_t b) {
        return spec.exports[a].name < spec.exports[b].name;  // byte order, as the loader's search
      });
    const uint32_t dirAt = 0;
    const uint32_t eatAt = 40;
    const uint32_t entAt = eatAt + 4 * nFunctions;
    const uint32_t eotAt = entAt + 4 * static_cast<uint32_t>(named.size());
    uint32_t strAt = AlignUp(eotAt + 2 * static_cast<uint32_t>(named.size()), 4);
    rdata.b.assign(strAt, 0);
    const std::string moduleName = spec.exportName.empty() ? "test.dll" : spec.exportName;
    const uint32_t moduleNameAt = rdata.size();
    rdata.cstr(moduleName);
    std::vector<uint32_t> nameAt(nExp, 0), fwdAt(nExp, 0);
    for (size_t i : named) {
      nameAt[i] = rdata.size();
      rdata.cstr(spec.exports[i].name);
    }
    for (size_t i = 0; i < nExp; ++i)
      if (!spec.exports[i].forwarder.empty()) {
        fwdAt[i] = rdata.size();
        rdata.cstr(spec.exports[i].forwarder);
      }
    const uint32_t exportEnd = rdata.size();
    rdata.set32(dirAt + 12, rdataRva + moduleNameAt);
    rdata.set32(dirAt + 16, spec.ordinalBase);
    rdata.set32(dirAt + 20, nFunctions);
    rdata.set32(dirAt + 24, static_cast<uint32_t>(named.size()));
    rdata.set32(dirAt + 28, rdataRva + eatAt);
    rdata.set32(dirAt + 32, rdataRva + entAt);
    rdata.set32(dirAt + 36, rdataRva + eotAt);
    for (size_t i = 0; i < nExp; ++i) {
      const auto& e = spec.exports[i];
      uint32_t value = e.rva;
      if (!e.forwarder.empty())
        value = rdataRva + fwdAt[i];
      else if (e.rva == 0)
        value = kTextRva + stubAt[i];
      finalRva[i] = value;
      rdata.set32(eatAt + 4 * (ordinals[i] - spec.ordinalBase), value);
    }
    for (size_t k = 0; k < named.size(); ++k) {
      rdata.set32(entAt + 4 * static_cast<uint32_t>(k), rdataRva + nameAt[named[k]]);
      Put16(rdata.b, eotAt + 2 * static_cast<uint32_t>(k),
            static_cast<uint16_t>(ordinals[named[k]] - spec.ordinalBase));
    }
    layout.exportDir = rdataRva + dirAt;
    layout.exportDirSize = exportEnd - dirAt;
    rdata.pad(16);
  }
  if (!spec.imports.empty()) {
    const uint32_t nDll = static_cast<uint32_t>(spec.imports.size());
    const uint32_t descAt = rdata.size();
    const uint32_t descSize = 20 * (nDll + 1);
    uint32_t pos = descAt + descSize;
    // Per DLL: lookup table and address table, each zero-terminated.
    std::vector<uint32_t> iltAt(nDll), iatAt(nDll);
    const uint32_t iatStart = pos;
    for (uint32_t d = 0; d < nDll; ++d) {
      iatAt[d] = pos;
      pos += 4 * static_cast<uint32_t>(spec.imports[d].names.size() +
                                       spec.imports[d].ordinals.size() + 1);
    }
    const uint32_t iatEnd = pos;
    for (uint32_t d = 0; d < nDll; ++d) {
      iltAt[d] = pos;
      pos += 4 * static_cast<uint32_t>(spec.imports[d].names.size() +
                                       spec.imports[d].ordinals.size() + 1);
    }
    rdata.b.resize(pos, 0);
    uint32_t thunk = thunksAt;
    for (uint32_t d = 0; d < nDll; ++d) {
      const auto& imp = spec.imports[d];
      const uint32_t dllNameAt = rdata.size();
      rdata.cstr(imp.dll);
      rdata.pad(2);
      uint32_t slot = 0;
      auto addSlot = [&](uint32_t value) {
        rdata.set32(iltAt[d] + 4 * slot, value);
        rdata.set32(iatAt[d] + 4 * slot, value);
        // jmp dword ptr [slot]
        text.b[thunk] = 0xFF;
        text.b[thunk + 1] = 0x25;
        text.set32(thunk + 2, spec.imageBase + rdataRva + iatAt[d] + 4 * slot);
        relocRvas.push_back(kTextRva + thunk + 2);
        thunk += 8;
        ++slot;
      };
      for (const auto& name : imp.names) {
        const uint32_t hintAt = rdata.size();
        rdata.u16(0);
        rdata.cstr(name);
        rdata.pad(2);
        addSlot(rdataRva + hintAt);
      }
      for (uint16_t o : imp.ordinals) addSlot(0x80000000u | o);
      const uint32_t at = descAt + 20 * d;
      rdata.set32(at + 0, rdataRva + iltAt[d]);  // OriginalFirstThunk
      rdata.set32(at + 4, 0);                    // TimeDateStamp
      rdata.set32(at + 8, 0);                    // ForwarderChain
      rdata.set32(at + 12, rdataRva + dllNameAt);
      rdata.set32(at + 16, rdataRva + iatAt[d]);  // FirstThunk
    }
    layout.importDir = rdataRva + descAt;
    layout.importDirSize = descSize;
    layout.iat = rdataRva + iatStart;
    layout.iatSize = iatEnd - iatStart;
  }
  if (hasRdata) nextRva += AlignUp(std::max<uint32_t>(rdata.size(), 1), kSectionAlign);

  // --- .rsrc ---------------------------------------------------------------
  std::vector<uint8_t> rsrc;
  uint32_t rsrcRva = 0;
  if (!spec.resources.empty()) {
    rsrcRva = nextRva;
    rsrc = BuildResourceSection(spec.resources, rsrcRva);
    layout.resourceDir = rsrcRva;
    layout.resourceDirSize = static_cast<uint32_t>(rsrc.size());
    nextRva += AlignUp(static_cast<uint32_t>(rsrc.size()), kSectionAlign);
  }

  // --- .reloc: IMAGE_REL_BASED_HIGHLOW entries grouped by 4 KiB page ---------
  Buf reloc;
  uint32_t relocRva = 0;
  if (spec.relocations) {
    relocRva = nextRva;
    std::sort(relocRvas.begin(), relocRvas.end());
    size_t i = 0;
    while (i < relocRvas.size()) {
      const uint32_t page = relocRvas[i] & ~0xFFFu;
      const uint32_t blockAt = reloc.size();
      reloc.u32(page);
      reloc.u32(0);
      uint32_t count = 0;
      for (; i < relocRvas.size() && (relocRvas[i] & ~0xFFFu) == page; ++i, ++count)
        reloc.u16(static_cast<uint16_t>(0x3000 | (relocRvas[i] & 0xFFF)));
      if (count % 2) reloc.u16(0);  // IMAGE_REL_BASED_ABSOLUTE padding
      reloc.set32(blockAt + 4, reloc.size() - blockAt);
    }
    layout.relocDir = relocRva;
    layout.relocDirSize = reloc.size();
    nextRva += AlignUp(reloc.size(), kSectionAlign);
  }

  // --- Sections and headers ------------------------------------------------
  struct Sec {
    const char* name;
    uint32_t rva;
    const std::vector<uint8_t>* data;
    uint32_t characteristics;
  };
  std::vector<Sec> secs;
  secs.push_back({".text", kTextRva, &text.b, 0x60000020});
  if (hasRdata) secs.push_back({".rdata", rdataRva, &rdata.b, 0x40000040});
  if (!spec.resources.empty()) secs.push_back({".rsrc", rsrcRva, &rsrc, 0x40000040});
  if (spec.relocations) secs.push_back({".reloc", relocRva, &reloc.b, 0x42000040});

  const uint32_t nSec = static_cast<uint32_t>(secs.size());
  layout.ntHeaders = kNtOffset;
  layout.optionalHeader = kNtOffset + 4 + 20;
  layout.sectionTable = layout.optionalHeader + kOptionalHeaderSize;
  const uint32_t sizeOfHeaders = AlignUp(layout.sectionTable + 40 * nSec, kFileAlign);
  uint32_t rawPos = sizeOfHeaders;
  for (const auto& s : secs) {
    PeSectionLayout sl;
    sl.name = s.name;
    sl.rva = s.rva;
    sl.virtualSize = std::max<uint32_t>(static_cast<uint32_t>(s.data->size()), 1);
    sl.rawOffset = rawPos;
    sl.rawSize = AlignUp(static_cast<uint32_t>(s.data->size()), kFileAlign);
    if (sl.rawSize == 0) sl.rawOffset = 0;
    rawPos += sl.rawSize;
    layout.sections.push_back(sl);
  }
  const uint32_t sizeOfImage = nextRva;

  Buf out;
  out.b.assign(sizeOfHeaders, 0);
  // DOS header and a stub that prints the customary message.
  out.b[0] = 'M';
  out.b[1] = 'Z';
  Put16(out.b, 0x02, 0x90);    // e_cblp
  Put16(out.b, 0x04, 3);       // e_cp
  Put16(out.b, 0x08, 4);       // e_cparhdr
  Put16(out.b, 0x0C, 0xFFFF);  // e_maxalloc
  Put16(out.b, 0x10, 0xB8);    // e_sp
  Put16(out.b, 0x18, 0x40);    // e_lfarlc
  Put32(out.b, 0x3C, kNtOffset);
  const uint8_t dosStub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                             0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
  std::copy(std::begin(dosStub), std::end(dosStub), out.b.begin() + 0x40);
  const std::string dosMsg = "This program cannot be run in DOS mode.\r\r\n$";
  std::copy(dosMsg.begin(), dosMsg.end(), out.b.begin() + 0x4E);

  uint32_t p = kNtOffset;
  out.b[p] = 'P';
  out.b[p + 1] = 'E';
  p += 4;
  uint16_t characteristics = 0x0002 | 0x0004 | 0x0008 | 0x0100;  // executable, stripped, 32-bit
  if (spec.dll) characteristics |= 0x2000;
  if (!spec.relocations) characteristics |= 0x0001;
  Put16(out.b, p + 0, 0x014C);  // i386
  Put16(out.b, p + 2, static_cast<uint16_t>(nSec));
  Put32(out.b, p + 4, 0);  // TimeDateStamp: 0 keeps builds identical
  Put16(out.b, p + 16, kOptionalHeaderSize);
  Put16(out.b, p + 18, characteristics);

  uint32_t o = layout.optionalHeader;
  uint32_t sizeOfCode = 0, sizeOfInitData = 0;
  for (size_t i = 0; i < secs.size(); ++i)
    (i == 0 ? sizeOfCode : sizeOfInitData) += layout.sections[i].rawSize;
  Put16(out.b, o + 0, 0x010B);
  out.b[o + 2] = 2;   // MajorLinkerVersion
  out.b[o + 3] = 25;  // MinorLinkerVersion
  Put32(out.b, o + 4, sizeOfCode);
  Put32(out.b, o + 8, sizeOfInitData);
  Put32(out.b, o + 12, 0);
  Put32(out.b, o + 16, layout.entryPoint);
  Put32(out.b, o + 20, kTextRva);                                     // BaseOfCode
  Put32(out.b, o + 24, secs.size() > 1 ? secs[1].rva : sizeOfImage);  // BaseOfData
  Put32(out.b, o + 28, spec.imageBase);
  Put32(out.b, o + 32, kSectionAlign);
  Put32(out.b, o + 36, kFileAlign);
  Put16(out.b, o + 40, 4);  // MajorOperatingSystemVersion
  Put16(out.b, o + 48, 4);  // MajorSubsystemVersion
  Put32(out.b, o + 56, sizeOfImage);
  Put32(out.b, o + 60, sizeOfHeaders);
  Put16(out.b, o + 68, 2);  // IMAGE_SUBSYSTEM_WINDOWS_GUI
  Put32(out.b, o + 72, 0x00100000);
  Put32(out.b, o + 76, 0x00004000);
  Put32(out.b, o + 80, 0x00100000);
  Put32(out.b, o + 84, 0x00001000);
  Put32(out.b, o + 92, 16);  // NumberOfRvaAndSizes
  auto dir = [&](int index, uint32_t rva, uint32_t size) {
    Put32(out.b, o + 96 + 8 * index, rva);
    Put32(out.b, o + 100 + 8 * index, size);
  };
  dir(0, layout.exportDir, layout.exportDirSize);
  dir(1, layout.importDir, layout.importDirSize);
  dir(2, layout.resourceDir, layout.resourceDirSize);
  dir(5, layout.relocDir, layout.relocDirSize);
  dir(12, layout.iat, layout.iatSize);

  for (uint32_t i = 0; i < nSec; ++i) {
    const uint32_t h = layout.sectionTable + 40 * i;
    const auto& sl = layout.sections[i];
    std::copy(sl.name.begin(), sl.name.end(), out.b.begin() + h);
    Put32(out.b, h + 8, sl.virtualSize);
    Put32(out.b, h + 12, sl.rva);
    Put32(out.b, h + 16, sl.rawSize);
    Put32(out.b, h + 20, sl.rawOffset);
    Put32(out.b, h + 36, secs[i].characteristics);
  }
  for (uint32_t i = 0; i < nSec; ++i) {
    out.bytes(*secs[i].data);
    out.pad(kFileAlign);
  }

  layout.exportRvas = finalRva;
  layout.exportOrdinals = ordinals;
  if (layoutOut) *layoutOut = std::move(layout);
  return out.b;
}

std::vector<uint8_t> BuildPackageInfo(
    uint32_t flags, const std::vector<std::string>& requiresList,
    const std::vector<std::pair<uint8_t, std::string>>& contains) {
  Buf out;
  out.u32(flags);
  out.u32(static_cast<uint32_t>(requiresList.size()));
  for (const auto& r : requiresList) {
    out.u8(NameHash(r));
    out.cstr(r);
  }
  out.u32(static_cast<uint32_t>(contains.size()));
  for (const auto& [unitFlags, name] : contains) {
    out.u8(unitFlags);
    out.u8(NameHash(name));
    out.cstr(name);
  }
  out.pad(4);
  return out.b;
}

std::vector<uint8_t> BuildDescription(const std::string& utf8) {
  Buf out;
  for (char16_t c : Utf8ToUtf16ForTest(utf8)) out.u16(static_cast<uint16_t>(c));
  out.u16(0);
  return out.b;
}

PeSpec LargePackageSpec(int units, int exportsPerUnit) {
  std::vector<std::pair<uint8_t, std::string>> contains;
  std::vector<PeExport> exports;
  for (int u = 0; u < units; ++u) {
    std::string unit = "Unit" + std::to_string(1000 + u);
    contains.emplace_back(0, unit);
    int n = 0;
    auto add = [&](const std::string& rest) {
      exports.push_back({unit + "." + rest + "@" + std::to_string(10000000 + u * 100 + n)});
      ++n;
    };
    for (const char* cls : {"TAlpha", "TBeta"}) {
      add(std::string(".") + cls);
      add(cls);
      for (int m = 0; m < 12; ++m) add(std::string(cls) + ".Method" + std::to_string(m));
    }
    add("Register");
    add("Initialization");
    add("Finalization");
    while (n < exportsPerUnit) add("Proc" + std::to_string(n));
  }
  contains.emplace_back(0x1C, "SysInit");
  contains.emplace_back(0x03, "bigpack");
  return PackageSpec(0x40000004, {}, contains, "Benchmark package", std::move(exports));
}

PeSpec PackageSpec(uint32_t flags, const std::vector<std::string>& requiresList,
                   const std::vector<std::pair<uint8_t, std::string>>& contains,
                   const std::string& description, std::vector<PeExport> exports) {
  PeSpec spec;
  spec.dll = true;
  spec.exports.push_back({"Initialize"});
  spec.exports.push_back({"Finalize"});
  for (auto& e : exports) spec.exports.push_back(std::move(e));
  spec.resources.push_back({PeResName::Id(10), PeResName::Name("PACKAGEINFO"), 0,
                            BuildPackageInfo(flags, requiresList, contains)});
  if (!description.empty())
    spec.resources.push_back(
        {PeResName::Id(10), PeResName::Name("DESCRIPTION"), 0, BuildDescription(description)});
  return spec;
}

std::u16string Utf8ToUtf16ForTest(const std::string& utf8) {
  std::u16string out;
  size_t i = 0;
  const size_t n = utf8.size();
  auto cont = [&](size_t k) {
    return k < n && (static_cast<unsigned char>(utf8[k]) & 0xC0) == 0x80;
  };
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && cont(i + 1)) {
      cp = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3F);
      len = 2;
      if (cp < 0x80) cp = 0xFFFD;
    } else if ((c & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
      cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3F);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    } else if ((c & 0xF8) == 0xF0 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      cp = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) |
           (utf8[i + 3] & 0x3F);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot create " + path.string());
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

void Put16(std::vector<uint8_t>& image, uint32_t offset, uint16_t value) {
  if (size_t{offset} + 2 > image.size()) throw std::out_of_range("Put16 outside the image");
  image[offset] = static_cast<uint8_t>(value);
  image[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& image, uint32_t offset, uint32_t value) {
  if (size_t{offset} + 4 > image.size()) throw std::out_of_range("Put32 outside the image");
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t Get16(const std::vector<uint8_t>& image, uint32_t offset) {
  if (size_t{offset} + 2 > image.size()) throw std::out_of_range("Get16 outside the image");
  return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

uint32_t Get32(const std::vector<uint8_t>& image, uint32_t offset) {
  if (size_t{offset} + 4 > image.size()) throw std::out_of_range("Get32 outside the image");
  return image[offset] | (image[offset + 1] << 8) | (image[offset + 2] << 16) |
         (static_cast<uint32_t>(image[offset + 3]) << 24);
}

}  // namespace kx::test
