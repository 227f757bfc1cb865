// The registry hive parser and a read-modify-write round trip: an untouched
// hive serialises to the very bytes it was read from; a value set (in a new
// key and in the file's first key) reads back equal after serialising and
// parsing again, and a deleted one is gone.
#include <string_view>

#include "fuzz_support.h"
#include "platform/registry_hive.h"

using namespace kx;

namespace {

// Input bytes as UTF-16 code units (Latin-1), zero bytes made visible.
std::u16string Units(std::string_view bytes) {
  std::u16string out;
  for (unsigned char c : bytes) out += c ? char16_t(c) : u'0';
  return out;
}

// The first section header's path as written, split at escaped separators.
RegKeyPath FirstKey(std::string_view text) {
  size_t open = text.find("\n[");
  if (open == std::string_view::npos) return {};
  size_t close = text.find(']', open);
  if (close == std::string_view::npos) return {};
  std::string_view name = text.substr(open + 2, close - open - 2);
  RegKeyPath path;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t sep = name.find("\\\\", pos);
    if (sep == std::string_view::npos) sep = name.size();
    path.push_back(Units(name.substr(pos, sep - pos)));
    pos = sep + 2;
  }
  return path;
}

struct Written {
  RegKeyPath key;
  RegValue value;
};

// Sets every value, writes and reads the hive back, checks that each value
// reads back equal, then deletes them all and checks that they are gone.
void CheckRoundTrip(RegistryHive& hive, const std::vector<Written>& values) {
  for (const Written& w : values)
    fuzz::Require(hive.SetValue(w.key, w.value), "a value cannot be set in an existing key");
  const std::string written = hive.Serialize();
  RegistryHive again = RegistryHive::Parse(written);
  fuzz::Require(again.Serialize() == written, "a written hive does not read back as written");
  for (const Written& w : values) {
    auto found = again.FindKey(w.key);
    fuzz::Require(found.has_value(), "the key of a written value is gone");
    const RegValue* v = again.FindValue(*found, w.value.name);
    if (!v || !(*v == w.value))
      std::fprintf(stderr, "wrote %s\nread  %s\n", RegistryHive::FormatValue(w.value).c_str(),
                   v ? RegistryHive::FormatValue(*v).c_str() : "(none)");
    fuzz::Require(v && *v == w.value, "a written value reads back different");
    fuzz::Require(again.DeleteValue(*found, w.value.name), "a written value cannot be deleted");
  }
  for (const Written& w : values)
    fuzz::Require(again.FindValue(w.key, w.value.name) == nullptr,
                  "a deleted value is still there");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<RegistryHive> hive;
  try {
    hive.emplace(RegistryHive::Parse(text));
  } catch (const ERegistryException&) {
    return 0;
  }
  fuzz::Require(hive->Serialize() == text, "an untouched hive does not serialise as read");

  std::string_view tail = text.substr(size > 12 ? size - 12 : 0);
  const std::u16string name = Units(tail.substr(0, tail.size() / 2));
  const std::u16string textValue = Units(tail.substr(tail.size() / 2));
  std::vector<Written> values;
  // A key that is a link to nowhere opens nothing, created or not.
  const RegKeyPath created = hive->CreateKey({u"Software", u"Fuzz", name});
  if (hive->FindKey(created)) {
    values.push_back({created, RegValue::String(name, textValue)});
    values.push_back({created, RegValue::Dword(name + u"#", uint32_t(size))});
  }
  RegKeyPath first = FirstKey(text);
  if (!first.empty()) {
    if (auto key = hive->FindKey(first)) {
      for (const RegValue* v : hive->Values(*key)) (void)RegistryHive::FormatValue(*v);
      values.push_back({*key, RegValue::String(name + u"$", textValue, REG_EXPAND_SZ)});
    }
  }
  CheckRoundTrip(*hive, values);
  return 0;
}
