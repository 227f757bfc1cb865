// The resource directory of the loaded module as flattened lines with their
// depths, and the tree built from them.
#include <cstdio>
#include <set>

#include "package/ImageReader.h"
#include "package/PackPages.h"
#include "platform/codepage.h"
#include "platform/system.h"

namespace kx {

namespace {

std::string Hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

// Resource trees are three levels deep; anything far deeper is damage.
constexpr int kMaxDepth = 32;

class ResourceWalk {
 public:
  ResourceWalk(const ImageReader& img, uint32_t root, std::vector<ResourceLine>& lines)
      : img_(img), root_(root), lines_(lines) {
    // Every entry and data entry of a sound directory has bytes of its own,
    // so the number of lines cannot exceed this; overlapping directories
    // that would repeat entries endlessly stop here.
    maxLines_ = img.RealBytes() / 8 + 16;
  }

  void Walk(uint32_t dirOffset, int depth) {
    if (depth > kMaxDepth) throw EReadError("resource directory nested too deep");
    // Two entries may share a subdirectory; only one that is its own
    // ancestor is a loop.
    if (!ancestors_.insert(dirOffset).second)
      throw EReadError("resource directory points back into itself");
    struct Leave {
      std::set<uint32_t>& set;
      uint32_t key;
      ~Leave() { set.erase(key); }
    } leave{ancestors_, dirOffset};
    uint32_t dir = Addr(dirOffset);
    uint32_t named = img_.U16(dir + 12);
    uint32_t ids = img_.U16(dir + 14);
    uint32_t count = named + ids;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t entry = dir + 16 + 8 * i;
      uint32_t nameOrId = img_.U32(entry);
      uint32_t offset = img_.U32(entry + 4);
      Add(EntryText(nameOrId, depth), depth);
      if (offset & 0x80000000u) {
        Walk(offset & 0x7FFFFFFFu, depth + 1);
      } else {
        uint32_t data = Addr(offset & 0x7FFFFFFFu);
        uint32_t rva = img_.U32(data);
        uint32_t size = img_.U32(data + 4);
        uint32_t codePage = img_.U32(data + 8);
        Add("Offset: " + Hex8(rva) + "; Size: " + Hex8(size) + "; CodePage: " + Hex8(codePage),
            depth + 1);
      }
    }
  }

 private:
  uint32_t Addr(uint32_t offset) const {
    uint64_t a = uint64_t(root_) + offset;
    if (a > UINT32_MAX) throw EReadError("resource offset outside the address space");
    return uint32_t(a);
  }

  std::string EntryText(uint32_t nameOrId, int depth) const {
    if (nameOrId & 0x80000000u) {
      uint32_t s = Addr(nameOrId & 0x7FFFFFFFu);
      uint32_t length = img_.U16(s);
      if (length > 1024) length = 1024;
      std::u16string text;
      text.reserve(length);
      for (uint32_t k = 0; k < length; ++k) text.push_back(char16_t(img_.U16(s + 2 + 2 * k)));
      return Utf16ToUtf8(text);
    }
    uint32_t id = nameOrId & 0xFFFF;
    return depth == 1 ? ResourceTypeName(id) : Hex8(id);
  }

  void Add(std::string text, int depth) {
    if (lines_.size() >= maxLines_) throw EReadError("resource directory too large");
    lines_.push_back(ResourceLine{std::move(text), depth});
  }

  const ImageReader& img_;
  uint32_t root_;
  std::vector<ResourceLine>& lines_;
  std::set<uint32_t> ancestors_;  // directories on the path from the root
  size_t maxLines_ = 0;
};

}  // namespace

std::string ResourceTypeName(uint32_t id) {
  static const char* const kNames[] = {
      "UNK_#0",       "CURSOR",  "BITMAP",     "ICON",         "MENU",   "DIALOG",
      "STRING",       "FONTDIR", "FONT",       "ACCELERATORS", "RCDATA", "MESSAGETABLE",
      "GROUP_CURSOR", "UNK_#13", "GROUP_ICON", "UNK_#15",      "VERSION"};
  if (id <= 16) return kNames[id];
  return Hex8(id);
}

void TPackageModuleInfo::ReadResources() {
  ResourceRoot = 0;
  if (Handle == 0) return;
  const Process& proc = Sys().Proc();
  const ModuleRecord* rec = proc.Module(Handle);
  if (rec == nullptr) return;
  ImageReader img(proc, rec);
  try {
    // The resource directory entry; 16 bytes further in a PE32+ image.
    const bool pe32Plus = img.U16(rec->ntHeaders + 0x18) == 0x020B;
    uint32_t rva = img.U32(rec->ntHeaders + (pe32Plus ? 0x98 : 0x88));
    if (rva == 0) return;
    // The directory is read in the actual mapping of the module.
    ResourceRoot = rec->loadBase + rva;
    ResourceWalk walk(img, ResourceRoot, ResourceLines);
    walk.Walk(0, 1);
  } catch (const EReadError&) {
    // A damaged directory ends the walk with the lines read so far.
  }
}

ResourceTree ShowResourceTree(const std::vector<ResourceLine>& lines) {
  ResourceTree tree;
  tree.status = "Resource Directories: " + std::to_string(lines.size());
  if (lines.empty()) return tree;
  // levels[k] is the sibling list holding the current node at tree level k;
  // the current node is levels.back()->back().
  std::vector<std::vector<ResourceNode>*> levels;
  tree.topLevel.push_back(ResourceNode{lines[0].text, {}});
  levels.push_back(&tree.topLevel);
  int current = 1;
  for (size_t i = 1; i < lines.size(); ++i) {
    int d = lines[i].depth;
    if (d > current) {
      levels.push_back(&levels.back()->back().children);
    } else if (d < current) {
      for (int steps = current - d; steps > 0 && levels.size() > 1; --steps) levels.pop_back();
    }
    levels.back()->push_back(ResourceNode{lines[i].text, {}});
    current = d;
  }
  return tree;
}

}  // namespace kx
