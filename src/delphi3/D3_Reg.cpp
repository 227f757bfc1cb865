// The Delphi 3 IDE's registry settings.
#include "delphi3/D3_Reg.h"

#include <algorithm>
#include <climits>
#include <initializer_list>

#include "delphi3/AdvRegistry.h"
#include "platform/codepage.h"
#include "platform/strutil.h"

namespace kx {
namespace {

// Opens the Delphi 3 key and then one subkey of it, never creating either.
bool OpenDelphi3Subkey(RegistryAccessor& reg, const char* subkey) {
  return OpenDelphi3Key(reg) && reg.OpenKey(subkey, false);
}

std::string ReadText(const char* subkey, const char* valueName) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return "";
  return reg.ReadString(valueName);
}

// Text written by the tool's own code-page strings: every byte has a
// character, so the conversion keeps the text. Unchanged values are left
// alone.
bool WriteText(const char* subkey, const std::string& valueName, const std::string& text) {
  return WriteSettingText(subkey, valueName.c_str(), Utf8ToUtf16(text));
}

int ReadFlag(const char* subkey, const std::string& valueName) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return 0;
  const std::string text = reg.ReadString(valueName);
  return text.empty() ? 0 : StrToInt(text);
}

// Each value is read as stored, so two names that look alike in the code
// page keep their own descriptions.
void ReadPackageKey(const char* subkey, std::vector<std::string>& names,
                    std::vector<std::string>& descriptions,
                    std::vector<std::u16string>* storedNames) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return;
  const std::vector<RegValue> values = reg.GetValues();
  names.clear();
  if (storedNames) storedNames->clear();
  for (const RegValue& v : values) {
    names.push_back(Utf16ToUtf8(v.name));
    if (storedNames) storedNames->push_back(v.name);
  }
  for (const RegValue& v : values) {
    if (v.data.empty()) {
      descriptions.emplace_back();
      continue;
    }
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ)
      throw ERegistryException("Invalid data type for '" + Utf16ToUtf8(v.name) + "'");
    descriptions.push_back(Utf16ToUtf8(Utf16LeText(v.data)));
  }
}

bool DeletePackage(const char* subkey, const std::string& path) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return false;
  return reg.ModifyKey([&](RegistryAccessor::KeyBatch& key) {
    const RegValue* v = key.Find(path);
    return v != nullptr && key.Delete(std::u16string(v->name));
  });
}

}  // namespace

int StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digits = i;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (i == digits || i != text.size() || (!negative && value > INT_MAX) ||
      (negative && value > static_cast<long long>(INT_MAX) + 1))
    throw EConvertError("'" + text + "' is not a valid integer value");
  return static_cast<int>(negative ? -value : value);
}

bool OpenDelphi3Key(RegistryAccessor& reg) {
  reg.SetRoot(RootKey::CurrentUser);
  for (const char* level : {"SOFTWARE", "Borland", "Delphi", "3.0"}) {
    if (!reg.OpenKey(level, false)) {
      reg.CloseKey();
      return false;
    }
  }
  return true;
}

bool IsDelphi3Installed() {
  RegistryAccessor reg(RootKey::CurrentUser);
  return OpenDelphi3Key(reg);
}

void ReadKnownPackages(std::vector<std::string>& names, std::vector<std::string>& descriptions,
                       std::vector<std::u16string>* storedNames) {
  ReadPackageKey(kKnownPackagesKey, names, descriptions, storedNames);
}

void ReadDisabledPackages(std::vector<std::string>& names, std::vector<std::string>& descriptions,
                          std::vector<std::u16string>* storedNames) {
  ReadPackageKey(kDisabledPackagesKey, names, descriptions, storedNames);
}

bool WriteKnownPackage(const std::string& path, const std::string& description) {
  return WriteText(kKnownPackagesKey, path, description);
}

bool WriteKnownPackage(const std::string& path, const std::u16string& description) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, kKnownPackagesKey)) return false;
  const std::string failure = "Failed to set data for '" + path + "'";
  try {
    const RegValue value = RegValue::String(Utf8ToUtf16(path), description);
    if (!reg.ModifyKey([&](RegistryAccessor::KeyBatch& key) { return key.Set(value); }))
      throw ERegistryException(failure);
  } catch (const ERegistryException&) {
    throw ERegistryException(failure);
  }
  return true;
}

bool DeleteKnownPackage(const std::string& path) { return DeletePackage(kKnownPackagesKey, path); }

bool DeleteDisabledPackage(const std::string& path) {
  return DeletePackage(kDisabledPackagesKey, path);
}

bool DeletePackageValues(const std::u16string& storedName, bool disabledToo) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Key(reg)) return false;
  std::vector<std::string> subkeys = {kKnownPackagesKey};
  if (disabledToo) subkeys.push_back(kDisabledPackagesKey);
  return reg.ModifySubkeys(subkeys, [&](std::vector<RegistryAccessor::KeyBatch*>& keys) {
    bool deleted = false;
    for (RegistryAccessor::KeyBatch* key : keys)
      if (key != nullptr && key->FindStored(storedName) != nullptr)
        deleted = key->Delete(storedName) || deleted;
    return deleted;
  });
}

bool SwapKnownPackages(const std::u16string& first, const std::u16string& second) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, kKnownPackagesKey)) return false;
  return reg.ModifyKey([&](RegistryAccessor::KeyBatch& key) {
    // Windows enumerates values in creation order: the values from the
    // first of the two on are written again in the new order.
    std::vector<RegValue> values;
    for (const RegValue* v : key.Values()) values.push_back(*v);
    const RegValue* a = key.FindStored(first);
    const RegValue* b = key.FindStored(second);
    if (a == nullptr || b == nullptr || a == b) return false;
    size_t ia = values.size(), ib = values.size();
    for (size_t i = 0; i < values.size(); ++i) {
      if (FoldRegName(values[i].name) == FoldRegName(a->name)) ia = i;
      if (FoldRegName(values[i].name) == FoldRegName(b->name)) ib = i;
    }
    if (ia == values.size() || ib == values.size()) return false;
    std::swap(values[ia], values[ib]);
    for (size_t i = std::min(ia, ib); i < values.size(); ++i) key.Delete(values[i].name);
    for (size_t i = std::min(ia, ib); i < values.size(); ++i)
      if (!key.Set(values[i])) return false;
    return true;
  });
}

std::u16string ReadSettingText(const char* subkey, const char* valueName) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return {};
  return reg.ReadText(valueName).value_or(std::u16string());
}

bool WriteSettingText(const char* subkey, const char* valueName, std::u16string_view text,
                      bool* written) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (written) *written = false;
  if (!OpenDelphi3Subkey(reg, subkey)) return false;  // an absent subkey drops the write
  const bool changed = reg.WriteText(valueName, text);
  if (written) *written = changed;
  return true;
}

void RewriteKnownPackages(const std::vector<std::string>* oldNames,
                          const std::vector<std::string>* newNames,
                          const std::vector<std::string>* newDescriptions) {
  if (!newNames || !newDescriptions) return;
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, kKnownPackagesKey)) return;
  static const std::vector<std::string> kNone;
  ReplaceKeyValues(reg, oldNames ? *oldNames : kNone, *newNames, *newDescriptions);
}

std::string ReadAddToPackageName() { return ReadText(kAddToPackageKey, kAddToPackageNameValue); }
bool WriteAddToPackageName(const std::string& name) {
  return WriteText(kAddToPackageKey, kAddToPackageNameValue, name);
}

std::string ReadLibrarySearchPath() { return ReadText(kLibraryKey, kSearchPathValue); }
bool WriteLibrarySearchPath(const std::string& path) {
  return WriteText(kLibraryKey, kSearchPathValue, path);
}

std::string ReadPackageDLLOutputDir() { return ReadText(kLibraryKey, kPackageDLLOutputDirValue); }
bool WritePackageDLLOutputDir(const std::string& dir) {
  return WriteText(kLibraryKey, kPackageDLLOutputDirValue, dir);
}

std::string ReadPackageDCPOutputDir() { return ReadText(kLibraryKey, kPackageDCPOutputDirValue); }
bool WritePackageDCPOutputDir(const std::string& dir) {
  return WriteText(kLibraryKey, kPackageDCPOutputDirValue, dir);
}

int ReadCompilingOption(const std::string& valueName) { return ReadFlag(kCompilingKey, valueName); }
bool WriteCompilingOption(const std::string& valueName, int value) {
  return WriteText(kCompilingKey, valueName, std::to_string(value));
}

int ReadDebuggingOption(const std::string& valueName) { return ReadFlag(kDebuggingKey, valueName); }
bool WriteDebuggingOption(const std::string& valueName, int value) {
  return WriteText(kDebuggingKey, valueName, std::to_string(value));
}

void ReadSharedPackages(std::vector<std::string>& list) {
  std::vector<std::string> names;
  ReadSharedDLLNames(names);
  for (const std::string& name : names)
    if (SameText(ExtractFileExt(name), ".dpl")) list.push_back(name);
}

}  // namespace kx
