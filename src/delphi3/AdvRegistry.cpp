// The shared-DLL table, and rewriting a key's values in a new order.
#include "delphi3/AdvRegistry.h"

#include <initializer_list>
#include <optional>

#include "delphi3/D3_Reg.h"
#include "platform/codepage.h"
#include "platform/strutil.h"

namespace kx {
namespace {

// The text of a string value up to its first NUL; nullopt for other types.
std::optional<std::u16string> StoredText(const RegValue& v) {
  if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return std::nullopt;
  return Utf16LeText(v.data);
}

}  // namespace

bool OpenWindowsCurrentVersionKey(RegistryAccessor& reg) {
  reg.SetRoot(RootKey::LocalMachine);
  for (const char* level : {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion"}) {
    if (!reg.OpenKey(level, false)) {
      reg.CloseKey();
      return false;
    }
  }
  return true;
}

void ReadSharedDLLNames(std::vector<std::string>& list) {
  RegistryAccessor reg(RootKey::LocalMachine);
  if (OpenWindowsCurrentVersionKey(reg) && reg.OpenKey(kSharedDLLsKey, false))
    list = reg.GetValueNames();
}

void ReplaceKeyValues(RegistryAccessor& reg, const std::vector<std::string>& oldNames,
                      const std::vector<std::string>& newNames,
                      const std::vector<std::string>& newDescriptions) {
  reg.SetWriteThrough(true);
  // The whole rewrite is one change of the hive file: either the key keeps
  // its old values or it holds the complete new set, whatever fails.
  bool deletionFailed = false;
  bool written = false;
  try {
    written = reg.ModifyKey(
        [&](RegistryAccessor::KeyBatch& key) {
          // The removed values keep the names and texts as stored, which
          // may hold characters the code page cannot: a name written again
          // takes its stored spelling, and an unchanged description its
          // stored text, so nothing turns into '?'.
          std::vector<RegValue> removed;
          for (const std::string& name : oldNames) {
            const RegValue* v = key.Find(name);
            if (v == nullptr) {
              deletionFailed = true;
              return false;
            }
            removed.push_back(*v);
            key.Delete(removed.back().name);
          }
          std::vector<bool> reused(removed.size(), false);
          for (size_t i = 0; i < newNames.size(); ++i) {
            const std::string description =
                i < newDescriptions.size() ? newDescriptions[i] : std::string();
            const RegValue* from = nullptr;
            for (size_t j = 0; j < removed.size() && from == nullptr; ++j) {
              if (!reused[j] && SameText(Utf16ToUtf8(removed[j].name), newNames[i])) {
                reused[j] = true;
                from = &removed[j];
              }
            }
            std::u16string name = Utf8ToUtf16(newNames[i]);
            std::u16string text = Utf8ToUtf16(description);
            if (from != nullptr) {
              name = from->name;
              const std::optional<std::u16string> stored = StoredText(*from);
              if (stored && Utf16ToUtf8(*stored) == description) text = *stored;
            }
            if (!key.Set(RegValue::String(std::move(name), text))) return false;
          }
          return true;
        },
        true);
  } catch (const ERegistryException&) {
    written = false;  // the file could not be written: it is as it was
  }
  if (deletionFailed) throw ERegistryException("Error removing old known package!");
  if (!written && !newNames.empty())
    throw ERegistryException("Failed to set data for '" + newNames.front() + "'");
  if (!written && !oldNames.empty()) throw ERegistryException("Error removing old known package!");
}

}  // namespace kx
