#pragma once
// The registry of the emulated Windows: Wine's text hive files
// ($WINEPREFIX/user.reg for HKEY_CURRENT_USER, $WINEPREFIX/system.reg for
// HKEY_LOCAL_MACHINE), read and written in place.
//
// RegistryHive is one parsed file. It keeps every line of the file so that a
// change rewrites only the lines of the value (and the time stamp of the key)
// it touches; comments, other keys, #time lines and lines it does not
// understand come out exactly as they went in. Values enumerate in file
// order and new values are appended after the last value of their key, which
// is the creation order Windows enumerates in (Wine itself keeps them sorted
// by name).
//
// RegistryAccessor is the narrow handle the tool works with: a root key, one
// current key opened relative to it, values read and written by name. No
// file handle or parsed copy lives between calls: every call reads the
// current file, and every change is written at once, atomically (temporary
// file, flush, rename), leaving the original untouched when anything fails.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"

namespace kx {

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr uint32_t REG_LINK = 6;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

// Registry failures: "Invalid data type for '%s'", "Failed to set data for
// '%s'", "Failed to get data for '%s'", and damaged hive files.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// One value as Windows holds it: the name in UTF-16 and the raw data bytes
// (strings are UTF-16LE with their terminating NUL).
struct RegValue {
  std::u16string name;  // empty for the default value ("@")
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;

  static RegValue String(std::u16string name, std::u16string_view text, uint32_t type = REG_SZ);
  static RegValue Dword(std::u16string name, uint32_t value);
  bool operator==(const RegValue&) const = default;
};

// A key path below the hive's root, one component per level.
using RegKeyPath = std::vector<std::u16string>;

class RegistryHive {
 public:
  // Parses a hive file's text. Throws ERegistryException when the text is
  // not a Wine registry file (first line "WINE REGISTRY Version 2"). Lines
  // that do not parse are kept as they are and carry no value.
  static RegistryHive Parse(std::string_view text);
  // The same over text the hive keeps and shares instead of copying. Parsing
  // only notes where each key header starts; a key's lines are split and its
  // values decoded when it is first looked up, so a large hive costs one
  // light pass over its lines plus the keys actually used.
  static RegistryHive Parse(std::shared_ptr<const std::string_view> text);
  // The text the hive was parsed from (not its changes).
  std::string_view Text() const { return *source_; }
  std::string Serialize() const;

  // Case-insensitive look-up of a key, following symbolic links (#link keys
  // with a SymbolicLinkValue into the same hive). A key exists when it has a
  // section of its own or when a deeper key lies below it. Returns the path
  // as stored.
  std::optional<RegKeyPath> FindKey(const RegKeyPath& path) const;
  // Opens the key, creating the missing levels below the deepest existing
  // one; returns the stored path.
  RegKeyPath CreateKey(const RegKeyPath& path);
  // The value of a key (found with FindKey); nullptr when absent.
  const RegValue* FindValue(const RegKeyPath& key, std::u16string_view name) const;
  // Values in enumeration order (file order).
  std::vector<const RegValue*> Values(const RegKeyPath& key) const;
  // Overwrites the value in place, or appends it after the key's last value.
  // The key must exist (FindKey); false otherwise.
  bool SetValue(const RegKeyPath& key, const RegValue& value);
  bool DeleteValue(const RegKeyPath& key, std::u16string_view name);

  // One value in Wine's file syntax ("name"=..., without line end), with
  // Wine's escapes and its line wrapping of hex data.
  static std::string FormatValue(const RegValue& value);
  // Parses a value line (continuation lines joined with '\n'); nullopt when
  // it is not one.
  static std::optional<RegValue> ParseValue(std::string_view text);

 private:
  enum class LineKind : uint8_t { Other, Header, Value, Time, Link };
  // One line of an opened section (a value with its continuation lines).
  struct Line {
    // LineKind::Value marks a value line; until the values of its key are
    // decoded it may still turn out not to be one (it is then Other).
    LineKind kind = LineKind::Other;
    bool shadowed = false;  // a later line of the same key sets the same name
    bool owned = false;     // the text is owned_[begin], not a span of source_
    int value = -1;         // LineKind::Value, once decoded: index into values_
    uint32_t nameEnd = 0;   // LineKind::Header: just past the closing ']'
    uint32_t begin = 0;     // the raw physical lines, joined with '\n'
    uint32_t size = 0;
  };
  // A key header of the file and the lines after it up to the next one, or
  // a section added to the end. Parsing only records where each starts; its
  // lines are split and classified when a look-up needs them.
  struct Section {
    uint32_t begin = 0;   // the header line in source_ (file sections)
    uint32_t nameAt = 0;  // the first byte after its '['
  };
  struct OpenedSection {
    std::vector<Line> lines;
    bool decoded = false;  // the values of its lines are decoded
    std::u16string name;   // the path of an added section (levels joined with '\')
  };
  // What a scan of the headers found for one folded key path: the first
  // section (in file order) whose path has it as leading levels, -1 when
  // none does (the key does not exist), and the sections of exactly that
  // path (empty when the key exists only through deeper ones).
  struct PathInfo {
    int first = -1;
    std::vector<int> sections;
  };
  // Serialises the lazy work of the const look-ups (scans, opening sections,
  // decoding values) in a hive shared between users.
  struct LookupLock {
    std::mutex mutex;
    LookupLock() = default;
    LookupLock(const LookupLock&) {}
    LookupLock& operator=(const LookupLock&) { return *this; }
  };

  std::string_view TextOf(const Line& line) const;
  void SetText(Line& line, std::string text);
  bool Added(int s) const { return static_cast<size_t>(s) >= fileSections_; }
  // The bytes of file section s, and its path (levels joined with '\').
  std::string_view RangeOf(int s) const;
  std::u16string NameOf(int s) const;
  // Splits and classifies the lines of section s (once).
  OpenedSection& Open(int s) const;
  // Decodes the value lines of a key's sections (once) and marks the lines
  // that a later line of the same name overrides.
  void DecodeValues(const std::vector<int>& sections) const;
  // The scan result for a folded path; when it is not known yet, all
  // headers are scanned once for path + rest, which also answers every
  // leading part of that longer path.
  const PathInfo& Info(const std::u16string& folded, std::u16string_view rest = {}) const;
  void Scan(const std::u16string& folded) const;
  void MeasureSharedPrefixes() const;
  std::vector<int> SectionsOf(const RegKeyPath& stored) const;
  std::optional<RegKeyPath> Resolve(const RegKeyPath& path, int depth) const;
  std::optional<RegKeyPath> LinkTarget(const std::vector<int>& sections) const;
  std::vector<int> EnsureSection(const RegKeyPath& storedPath);
  void Touch(const std::vector<int>& sections);

  std::shared_ptr<const std::string_view> source_ = std::make_shared<const std::string_view>();
  std::vector<Section> sections_;  // in file order, added ones last
  size_t fileSections_ = 0;        // how many come from source_
  // Bytes each file section's header shares with the one before (Scan).
  mutable std::vector<uint16_t> sharedPrefix_;
  std::vector<std::string> owned_;  // texts of changed and added lines
  // The sections whose lines are known, by index into sections_.
  mutable std::unordered_map<int, OpenedSection> opened_;
  // Decoded values; a deque keeps the pointers handed out valid as it grows.
  mutable std::deque<RegValue> values_;
  mutable std::unordered_map<std::u16string, PathInfo> paths_;  // folded path -> scan result
  mutable LookupLock lock_;
  RegKeyPath root_;  // ";; All keys relative to \\Machine": where links point into
  bool crlf_ = false;
  bool finalEol_ = true;
};

// Upper-cases a name as the registry compares names (ASCII, Latin-1 and the
// common European letters).
std::u16string FoldRegName(std::u16string_view name);

// The value a UTF-8 name refers to: the value of that name, else the first
// value whose name, converted to UTF-8, is that name (ignoring ASCII case).
// A name holding a lone surrogate comes out of enumeration with U+FFFD in
// its place; this finds its value again, so that what was enumerated can be
// read and removed without being renamed.
const RegValue* FindNarrowValue(const RegistryHive& hive, const RegKeyPath& key,
                                std::string_view name);

// The hive file of one root key on disk.
class HiveFile {
 public:
  explicit HiveFile(std::filesystem::path path) : path_(std::move(path)) {}
  const std::filesystem::path& Path() const { return path_; }

  // The current contents parsed; null when the file is missing, unreadable
  // or damaged (the registry then looks empty). The file is read every
  // time; the parsed form of the last contents seen is kept and reused
  // while the file holds exactly the same bytes.
  std::shared_ptr<const RegistryHive> Load() const;
  // Reads the file, applies change and writes the result atomically. When
  // change returns false nothing is written and the result is false. A file
  // that changes on disk while this runs is read again and the change
  // re-applied. Throws ERegistryException when the file cannot be read or
  // written; the original is then left as it was.
  bool Modify(const std::function<bool(RegistryHive&)>& change) const;

 private:
  std::filesystem::path path_;
};

// A running wineserver keeps the prefix's registry in memory and writes its
// own copy back when it saves, which can undo a change made to the files.
// True when a wineserver holds the lock of the given prefix.
bool WineServerRunning(const std::filesystem::path& prefix);
// Receives the warning written when a change is made to a hive while a
// wineserver runs for the prefix (once per file and process). The default
// handler writes the text to stderr.
using RegistryWarningFn = std::function<void(const std::string&)>;
RegistryWarningFn SetRegistryWarningHandler(RegistryWarningFn handler);

enum class RootKey { CurrentUser, LocalMachine };

struct RegDataInfo {
  uint32_t type = REG_NONE;
  size_t size = 0;  // bytes as the 8-bit interface returns them
};

// The tool's registry accessor (one per operation). Names and texts are
// UTF-8.
class RegistryAccessor {
 public:
  // Over the current system's prefix (Sys().Prefix()).
  explicit RegistryAccessor(RootKey root = RootKey::CurrentUser);
  // Over the given prefix; nullopt: no prefix, the registry is empty and
  // nothing is ever created.
  RegistryAccessor(std::optional<std::filesystem::path> prefix, RootKey root);
  virtual ~RegistryAccessor() = default;
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  RootKey Root() const { return root_; }
  // Closes the current key and changes the root.
  void SetRoot(RootKey root);
  // The hive file of the root; nullopt without a prefix.
  std::optional<std::filesystem::path> HivePath() const;

  // Opens key relative to the current key (relative to the root when it
  // starts with '\' or no key is open). With canCreate the missing levels
  // are created. False when the key cannot be opened; the current key is
  // then unchanged.
  bool OpenKey(std::string_view key, bool canCreate);
  void CloseKey();
  bool HasCurrentKey() const { return open_; }
  // The current key's path below the root, as it was opened ("" for none).
  const std::string& CurrentPath() const { return currentPath_; }
  // Closing a key flushes it in write-through mode. Changes are written to
  // the file as they are made in either mode.
  void SetWriteThrough(bool on) { writeThrough_ = on; }
  bool WriteThrough() const { return writeThrough_; }

  bool ValueExists(std::string_view name) const;
  // Type and size of a value; nullopt when there is none.
  std::optional<RegDataInfo> GetDataInfo(std::string_view name) const;
  // Reads at most bufferSize bytes of the data; throws "Failed to get data
  // for '%s'" when the value is gone or larger than the buffer.
  std::vector<uint8_t> GetData(std::string_view name, size_t bufferSize, uint32_t& type) const;
  // REG_SZ / REG_EXPAND_SZ up to the first NUL; "" for a missing value;
  // "Invalid data type for '%s'" for any other type.
  std::string ReadString(std::string_view name) const;
  // Writes a REG_SZ value (up to the first NUL of value); "Failed to set
  // data for '%s'" when it cannot.
  void WriteString(std::string_view name, std::string_view value);
  // False when there is no current key, no such value, or it cannot be
  // removed.
  virtual bool DeleteValue(std::string_view name);
  // Value names of the current key in enumeration order.
  std::vector<std::string> GetValueNames() const;
  // The current key's values in enumeration order, names and data exactly as
  // stored (no code-page conversion).
  std::vector<RegValue> GetValues() const;
  // The stored UTF-16 text of a REG_SZ / REG_EXPAND_SZ value up to its first
  // NUL, every character kept; nullopt for a missing value; "Invalid data
  // type for '%s'" for any other type.
  std::optional<std::u16string> ReadText(std::string_view name) const;
  // Stores text exactly as given as a REG_SZ value. A value that already
  // holds this text as REG_SZ is left alone (the file and the key's time
  // stamp stay as they were): false then, true when written. "Failed to set
  // data for '%s'" when it cannot be written.
  bool WriteText(std::string_view name, std::u16string_view text);
  // The raw value (tests and diagnostics).
  std::optional<RegValue> ReadValue(std::string_view name) const;

  // The values of one key while a batch of changes is being made to it.
  class KeyBatch {
   public:
    // Values in enumeration order, as the batch has left them so far.
    std::vector<const RegValue*> Values() const { return hive_.Values(key_); }
    // The value an 8-bit name refers to (see FindNarrowValue); nullptr when
    // there is none.
    const RegValue* Find(std::string_view name) const;
    // The value of exactly this stored name (ignoring case); nullptr when
    // there is none.
    const RegValue* FindStored(std::u16string_view name) const {
      return hive_.FindValue(key_, name);
    }
    // Removes the value of that exact name (ignoring case); false when absent.
    bool Delete(std::u16string_view name);
    // Overwrites the value in place, or appends it after the last value.
    bool Set(const RegValue& value);

   private:
    friend class RegistryAccessor;
    KeyBatch(RegistryAccessor& owner, RegistryHive& hive, RegKeyPath key)
        : owner_(owner), hive_(hive), key_(std::move(key)) {}
    RegistryAccessor& owner_;
    RegistryHive& hive_;
    RegKeyPath key_;
  };
  // Makes several changes to the current key as one atomic change of the
  // hive file: edit sees the key as the file holds it now, and everything it
  // changes is written in one rewrite, only when it returns true. When edit
  // returns false or throws, the file is left exactly as it was. When the
  // key is gone and createKey is set, the key itself (its last level only,
  // below a parent that still exists) is made again as part of the same
  // change. False when no key is open, the key cannot be found or made, or
  // edit returns false; a file that cannot be written raises
  // ERegistryException.
  bool ModifyKey(const std::function<bool(KeyBatch&)>& edit, bool createKey = false);
  // The same over several subkeys of the current key (paths relative to it)
  // at once: one user action that touches two keys is one atomic change of
  // the hive file. edit gets one batch per subkey, in the given order, or
  // nullptr for a subkey that does not exist (nothing is created). False
  // when no key is open or edit returns false (nothing is written then); a
  // file that cannot be written raises ERegistryException.
  bool ModifySubkeys(const std::vector<std::string>& subkeys,
                     const std::function<bool(std::vector<KeyBatch*>&)>& edit);

 protected:
  // Called before each change a batch makes and once more before the batch
  // is written; an exception thrown here aborts the batch and leaves the
  // file as it was (tests inject failures through it).
  virtual void BatchStep() {}

 private:
  std::shared_ptr<const RegistryHive> LoadHive() const;
  std::optional<HiveFile> File() const;
  void WarnIfWineRunning() const;

  std::optional<std::filesystem::path> prefix_;
  RootKey root_;
  bool open_ = false;
  RegKeyPath key_;  // as stored in the hive (links resolved)
  std::string currentPath_;
  bool writeThrough_ = false;
};

}  // namespace kx
