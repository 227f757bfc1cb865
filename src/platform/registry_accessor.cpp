// The registry accessor: a root key and one current key over the hive files
// of the prefix. Every call reads the file afresh; every change is written
// at once.
#include "platform/codepage.h"
#include "platform/registry_hive.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

bool IsStringType(uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Data as the 8-bit interface returns it: string types converted to UTF-8
// (terminators included), everything else as stored.
std::vector<uint8_t> NarrowData(const RegValue& v) {
  if (!IsStringType(v.type)) return v.data;
  std::u16string units;
  for (size_t i = 0; i + 1 < v.data.size(); i += 2)
    units.push_back(static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8)));
  const std::string narrow = Utf16ToUtf8(units);
  return std::vector<uint8_t>(narrow.begin(), narrow.end());
}

std::u16string Wide(std::string_view utf8) { return Utf8ToUtf16(utf8); }

}  // namespace

const RegValue* FindNarrowValue(const RegistryHive& hive, const RegKeyPath& key,
                                std::string_view name) {
  if (const RegValue* exact = hive.FindValue(key, Wide(name))) return exact;
  // Only a name holding a lone surrogate does not convert back to itself:
  // it comes out of enumeration with U+FFFD in its place.
  if (name.find("\uFFFD") == std::string_view::npos) return nullptr;
  for (const RegValue* v : hive.Values(key))
    if (SameText(Utf16ToUtf8(v->name), name)) return v;
  return nullptr;
}

RegistryAccessor::RegistryAccessor(RootKey root) : RegistryAccessor(Sys().Prefix(), root) {}

RegistryAccessor::RegistryAccessor(std::optional<std::filesystem::path> prefix, RootKey root)
    : prefix_(std::move(prefix)), root_(root) {}

void RegistryAccessor::SetRoot(RootKey root) {
  CloseKey();
  root_ = root;
}

std::optional<std::filesystem::path> RegistryAccessor::HivePath() const {
  if (!prefix_) return std::nullopt;
  return *prefix_ / (root_ == RootKey::CurrentUser ? "user.reg" : "system.reg");
}

std::optional<HiveFile> RegistryAccessor::File() const {
  auto path = HivePath();
  if (!path) return std::nullopt;
  return HiveFile(*path);
}

std::shared_ptr<const RegistryHive> RegistryAccessor::LoadHive() const {
  auto file = File();
  if (!file) return nullptr;
  return file->Load();
}

bool RegistryAccessor::OpenKey(std::string_view key, bool canCreate) {
  const bool absolute = !key.empty() && key[0] == '\\';
  RegKeyPath path = (absolute || !open_) ? RegKeyPath{} : key_;
  std::string added;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find('\\', start);
    if (end == std::string_view::npos) end = key.size();
    if (end > start) {
      path.push_back(Wide(key.substr(start, end - start)));
      if (!added.empty()) added += '\\';
      added += key.substr(start, end - start);
    }
    start = end + 1;
  }
  auto hive = LoadHive();
  if (!hive) return false;  // no prefix, no file, or a damaged one: nothing to open or create
  std::optional<RegKeyPath> found = hive->FindKey(path);
  if (!found && canCreate) {
    try {
      RegKeyPath created;
      File()->Modify([&](RegistryHive& h) {
        if (auto existing = h.FindKey(path)) {
          created = *existing;
          return false;
        }
        created = h.CreateKey(path);
        return true;
      });
      found = created;
      WarnIfWineRunning();
    } catch (const ERegistryException&) {
      return false;
    }
  }
  if (!found) return false;
  if (absolute || !open_ || currentPath_.empty())
    currentPath_ = added;
  else if (!added.empty())
    currentPath_ += "\\" + added;
  key_ = *found;
  open_ = true;
  return true;
}

void RegistryAccessor::CloseKey() {
  // Changes reach the file as they are made, so there is nothing left to
  // flush here in either mode.
  open_ = false;
  key_.clear();
  currentPath_.clear();
}

std::optional<RegValue> RegistryAccessor::ReadValue(std::string_view name) const {
  if (!open_) return std::nullopt;
  auto hive = LoadHive();
  if (!hive) return std::nullopt;
  const RegValue* v = FindNarrowValue(*hive, key_, name);
  if (!v) return std::nullopt;
  return *v;
}

bool RegistryAccessor::ValueExists(std::string_view name) const {
  return ReadValue(name).has_value();
}

std::optional<RegDataInfo> RegistryAccessor::GetDataInfo(std::string_view name) const {
  auto v = ReadValue(name);
  if (!v) return std::nullopt;
  return RegDataInfo{v->type, NarrowData(*v).size()};
}

std::vector<uint8_t> RegistryAccessor::GetData(std::string_view name, size_t bufferSize,
                                               uint32_t& type) const {
  auto v = ReadValue(name);
  std::vector<uint8_t> data;
  if (v) data = NarrowData(*v);
  if (!v || data.size() > bufferSize)
    throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
  type = v->type;
  return data;
}

std::string RegistryAccessor::ReadString(std::string_view name) const {
  auto info = GetDataInfo(name);
  if (!info || info->size < 1) return "";
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data = GetData(name, info->size, type);
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
  std::string text(data.begin(), data.end());
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

void RegistryAccessor::WriteString(std::string_view name, std::string_view value) {
  const std::string failure = "Failed to set data for '" + std::string(name) + "'";
  if (!open_ || !prefix_) throw ERegistryException(failure);
  if (size_t nul = value.find('\0'); nul != std::string_view::npos) value = value.substr(0, nul);
  const RegValue v = RegValue::String(Wide(name), Wide(value));
  try {
    if (!File()->Modify([&](RegistryHive& h) { return h.SetValue(key_, v); }))
      throw ERegistryException(failure);
  } catch (const ERegistryException&) {
    throw ERegistryException(failure);
  }
  WarnIfWineRunning();
}

bool RegistryAccessor::DeleteValue(std::string_view name) {
  if (!open_ || !prefix_) return false;
  try {
    if (!File()->Modify([&](RegistryHive& h) {
          const RegValue* v = FindNarrowValue(h, key_, name);
          return v != nullptr && h.DeleteValue(key_, std::u16string(v->name));
        }))
      return false;
  } catch (const ERegistryException&) {
    return false;
  }
  WarnIfWineRunning();
  return true;
}

std::vector<std::string> RegistryAccessor::GetValueNames() const {
  std::vector<std::string> names;
  if (!open_) return names;
  auto hive = LoadHive();
  if (!hive) return names;
  for (const RegValue* v : hive->Values(key_)) names.push_back(Utf16ToUtf8(v->name));
  return names;
}

std::vector<RegValue> RegistryAccessor::GetValues() const {
  std::vector<RegValue> values;
  if (!open_) return values;
  auto hive = LoadHive();
  if (!hive) return values;
  for (const RegValue* v : hive->Values(key_)) values.push_back(*v);
  return values;
}

std::optional<std::u16string> RegistryAccessor::ReadText(std::string_view name) const {
  auto v = ReadValue(name);
  if (!v) return std::nullopt;
  if (v->type != REG_SZ && v->type != REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
  return Utf16LeText(v->data);
}

bool RegistryAccessor::WriteText(std::string_view name, std::u16string_view text) {
  const std::string failure = "Failed to set data for '" + std::string(name) + "'";
  if (!open_ || !prefix_) throw ERegistryException(failure);
  if (size_t nul = text.find(u'\0'); nul != std::u16string_view::npos) text = text.substr(0, nul);
  const RegValue v = RegValue::String(Wide(name), text);
  bool written = false;
  try {
    // The comparison is made on the file as it is being changed, so a value
    // that already holds the text costs no rewrite and no new time stamp.
    bool keyFound = true;
    written = File()->Modify([&](RegistryHive& h) {
      const RegValue* current = FindNarrowValue(h, key_, name);
      if (current != nullptr && current->type == v.type && current->data == v.data) return false;
      keyFound = h.SetValue(key_, v);
      return keyFound;
    });
    if (!keyFound) throw ERegistryException(failure);
  } catch (const ERegistryException&) {
    throw ERegistryException(failure);
  }
  if (written) WarnIfWineRunning();
  return written;
}

const RegValue* RegistryAccessor::KeyBatch::Find(std::string_view name) const {
  return FindNarrowValue(hive_, key_, name);
}

bool RegistryAccessor::KeyBatch::Delete(std::u16string_view name) {
  owner_.BatchStep();
  return hive_.DeleteValue(key_, name);
}

bool RegistryAccessor::KeyBatch::Set(const RegValue& value) {
  owner_.BatchStep();
  return hive_.SetValue(key_, value);
}

bool RegistryAccessor::ModifyKey(const std::function<bool(KeyBatch&)>& edit, bool createKey) {
  if (!open_ || !prefix_ || key_.empty()) return false;
  RegKeyPath stored = key_;
  const bool changed = File()->Modify([&](RegistryHive& h) {
    std::optional<RegKeyPath> found = h.FindKey(key_);
    if (!found) {
      // Only the key's own level may be made again: a parent that is gone
      // as well means the whole branch was removed, and nothing is created.
      const RegKeyPath parent(key_.begin(), key_.end() - 1);
      if (!createKey || (!parent.empty() && !h.FindKey(parent))) return false;
      found = h.CreateKey(key_);
    }
    KeyBatch batch(*this, h, *found);
    if (!edit(batch)) return false;
    BatchStep();
    stored = *found;
    return true;
  });
  if (!changed) return false;
  key_ = stored;
  WarnIfWineRunning();
  return true;
}

bool RegistryAccessor::ModifySubkeys(const std::vector<std::string>& subkeys,
                                     const std::function<bool(std::vector<KeyBatch*>&)>& edit) {
  if (!open_ || !prefix_) return false;
  std::vector<RegKeyPath> paths;
  for (const std::string& subkey : subkeys) {
    RegKeyPath path = key_;
    for (const std::string& level : SplitString(subkey, '\\'))
      if (!level.empty()) path.push_back(Wide(level));
    paths.push_back(std::move(path));
  }
  const bool changed = File()->Modify([&](RegistryHive& h) {
    std::vector<std::unique_ptr<KeyBatch>> owned;
    std::vector<KeyBatch*> batches;
    for (const RegKeyPath& path : paths) {
      std::optional<RegKeyPath> found = h.FindKey(path);
      owned.push_back(found ? std::unique_ptr<KeyBatch>(new KeyBatch(*this, h, *found)) : nullptr);
      batches.push_back(owned.back().get());
    }
    if (!edit(batches)) return false;
    BatchStep();
    return true;
  });
  if (changed) WarnIfWineRunning();
  return changed;
}

}  // namespace kx
