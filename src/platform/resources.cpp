// Resources of a loaded module, found the way FindResource finds them: the
// type, then the name, then the first language entry.
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/pe_image.h"
#include "platform/process.h"
#include "platform/strutil.h"

namespace kx {
namespace {

// Windows folds resource names with its Unicode upper-case table.
char16_t UpcaseUtf16(char16_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  return static_cast<char16_t>(UpperCaseLetter(c));
}

// The entries of one resource directory level: named ones first, then ids.
struct ResLevel {
  uint32_t dir;  // RVA of the directory
  uint16_t named;
  uint16_t ids;
};

ResLevel ReadLevel(const PeImage& pe, uint32_t dirRva) {
  return {dirRva, pe.U16(dirRva + 12), pe.U16(dirRva + 14)};
}

std::u16string ReadResName(const PeImage& pe, uint32_t root, uint32_t offset) {
  const uint64_t at = static_cast<uint64_t>(root) + offset;
  if (at > 0xFFFFFFFFull - 2) throw EReadError("Resource name outside the image");
  const uint16_t len = pe.U16(static_cast<uint32_t>(at));
  const auto raw = pe.Bytes(static_cast<uint32_t>(at + 2), 2u * len);
  std::u16string s(len, u'\0');
  for (uint16_t i = 0; i < len; ++i)
    s[i] = static_cast<char16_t>(raw[2u * i] | (raw[2u * i + 1] << 8));
  return s;
}

// The offset field of the entry matching key; nullopt when none does.
std::optional<uint32_t> FindEntry(const PeImage& pe, uint32_t root, uint32_t dirRva,
                                  const ResId& key, const std::u16string& upperName) {
  const ResLevel lv = ReadLevel(pe, dirRva);
  const uint32_t first = key.isId ? lv.named : 0;
  const uint32_t last = key.isId ? lv.named + lv.ids : lv.named;
  for (uint32_t i = first; i < last; ++i) {
    const uint64_t at = static_cast<uint64_t>(dirRva) + 16 + 8ull * i;
    if (at > 0xFFFFFFFFull - 8) return std::nullopt;
    const uint32_t nameField = pe.U32(static_cast<uint32_t>(at));
    const uint32_t offsetField = pe.U32(static_cast<uint32_t>(at + 4));
    if (key.isId) {
      if ((nameField & 0x80000000u) == 0 && nameField == key.id) return offsetField;
    } else if (nameField & 0x80000000u) {
      std::u16string stored = ReadResName(pe, root, nameField & 0x7FFFFFFFu);
      if (stored.size() != upperName.size()) continue;
      for (char16_t& c : stored) c = UpcaseUtf16(c);
      if (stored == upperName) return offsetField;
    }
  }
  return std::nullopt;
}

std::u16string UpperName(const ResId& id) {
  if (id.isId) return {};
  std::u16string s;
  s.reserve(id.name.size());
  for (char16_t c : Utf8ToUtf16(id.name)) s.push_back(UpcaseUtf16(c));
  return s;
}

}  // namespace

ResId ResId::Name(std::string_view n) {
  // "#123" is the id 123, as FindResource reads it.
  if (n.size() > 1 && n[0] == '#' &&
      n.find_first_not_of("0123456789", 1) == std::string_view::npos) {
    uint32_t v = 0;
    for (size_t i = 1; i < n.size() && v <= 0xFFFF; ++i) v = v * 10 + (n[i] - '0');
    if (v <= 0xFFFF) return Id(static_cast<uint16_t>(v));
  }
  return ResId{false, 0, std::string(n)};
}

std::optional<ResourceData> Process::FindResource(HMODULE module, const ResId& name,
                                                  const ResId& type) const {
  const ModuleRecord* rec = Module(module);
  if (rec == nullptr || rec->builtin) return std::nullopt;
  std::optional<PeImage> mapped;
  try {
    mapped.emplace(std::span<const uint8_t>(rec->image), PeImage::Layout::Mapped);
  } catch (const EReadError&) {
    return std::nullopt;
  }
  const PeImage& pe = *mapped;
  const PeDataDirectory dir = pe.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  if (!dir.Present()) return std::nullopt;
  const uint32_t root = dir.rva;
  try {
    // Every step goes one level down, so a directory that points back at an
    // ancestor cannot make this walk loop.
    auto typeEntry = FindEntry(pe, root, root, type, UpperName(type));
    if (!typeEntry || !(*typeEntry & 0x80000000u)) return std::nullopt;
    const uint64_t nameDir = static_cast<uint64_t>(root) + (*typeEntry & 0x7FFFFFFFu);
    if (nameDir > 0xFFFFFFFFull) return std::nullopt;
    auto nameEntry = FindEntry(pe, root, static_cast<uint32_t>(nameDir), name, UpperName(name));
    if (!nameEntry || !(*nameEntry & 0x80000000u)) return std::nullopt;
    const uint64_t langDir = static_cast<uint64_t>(root) + (*nameEntry & 0x7FFFFFFFu);
    if (langDir > 0xFFFFFFFFull - 24) return std::nullopt;
    const ResLevel lv = ReadLevel(pe, static_cast<uint32_t>(langDir));
    if (lv.named + lv.ids == 0) return std::nullopt;
    const uint32_t langEntry = pe.U32(static_cast<uint32_t>(langDir + 20));
    if (langEntry & 0x80000000u) return std::nullopt;  // a fourth level: not a resource
    const uint64_t dataEntry = static_cast<uint64_t>(root) + langEntry;
    if (dataEntry > 0xFFFFFFFFull - 8) return std::nullopt;
    const uint32_t rva = pe.U32(static_cast<uint32_t>(dataEntry));
    const uint32_t size = pe.U32(static_cast<uint32_t>(dataEntry + 4));
    if (!pe.RvaToOffset(rva, size)) return std::nullopt;  // data outside the image
    return ResourceData{rec->loadBase + rva, size};
  } catch (const EReadError&) {
    return std::nullopt;
  }
}

}  // namespace kx
