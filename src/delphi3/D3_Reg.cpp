// The Delphi 3 IDE's registry settings.
#include "delphi3/D3_Reg.h"

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

bool WriteText(const char* subkey, const std::string& valueName, const std::string& text) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return false;  // an absent subkey drops the write
  reg.WriteString(valueName, text);
  return true;
}

int ReadFlag(const char* subkey, const std::string& valueName) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return 0;
  const std::string text = reg.ReadString(valueName);
  return text.empty() ? 0 : StrToInt(text);
}

void ReadPackageKey(const char* subkey, std::vector<std::string>& names,
                    std::vector<std::string>& descriptions) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return;
  names = reg.GetValueNames();
  for (const std::string& name : names) descriptions.push_back(reg.ReadString(name));
}

bool DeletePackage(const char* subkey, const std::string& path) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, subkey)) return false;
  return reg.DeleteValue(path);
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

void ReadKnownPackages(std::vector<std::string>& names, std::vector<std::string>& descriptions) {
  ReadPackageKey(kKnownPackagesKey, names, descriptions);
}

void ReadDisabledPackages(std::vector<std::string>& names, std::vector<std::string>& descriptions) {
  ReadPackageKey(kDisabledPackagesKey, names, descriptions);
}

bool WriteKnownPackage(const std::string& path, const std::string& description) {
  return WriteText(kKnownPackagesKey, path, description);
}

bool WriteKnownPackage(const std::string& path, const std::u16string& description) {
  RegistryAccessor reg(RootKey::CurrentUser);
  if (!OpenDelphi3Subkey(reg, kKnownPackagesKey)) return false;
  const std::string failure = "Failed to set data for '" + path + "'";
  try {
    const RegValue value = RegValue::String(Cp1252ToUtf16(path), description);
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
