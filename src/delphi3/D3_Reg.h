#pragma once
// The Delphi 3 IDE's per-user settings under the key
// HKEY_CURRENT_USER\SOFTWARE\Borland\Delphi\3.0, and the shared packages of the system's shared-DLL
// table. Every operation opens its own registry accessor, walks down to its
// key without creating anything, and closes it again. A missing key or
// value is never an error: reads give empty results, writes and deletions
// do nothing.
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry_hive.h"

namespace kx {

// Subkeys of the Delphi 3 key.
inline constexpr char kKnownPackagesKey[] = "Known Packages";
inline constexpr char kDisabledPackagesKey[] = "Disabled Packages";
inline constexpr char kAddToPackageKey[] = "Add to Package";
inline constexpr char kLibraryKey[] = "Library";
inline constexpr char kCompilingKey[] = "Compiling";
inline constexpr char kDebuggingKey[] = "Debugging";
// Subkey of HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion.
inline constexpr char kSharedDLLsKey[] = "SharedDLLs";

// Value names.
inline constexpr char kAddToPackageNameValue[] = "AddToPackageName";
inline constexpr char kSearchPathValue[] = "SearchPath";
inline constexpr char kPackageDLLOutputDirValue[] = "PackageDLLOutputDir";
inline constexpr char kPackageDCPOutputDirValue[] = "PackageDCPOutputDir";
inline constexpr char kShowPackageDetailsValue[] = "ShowPackageDetails";      // Compiling
inline constexpr char kWarnOnPackageRebuildValue[] = "WarnOnPackageRebuild";  // Compiling
inline constexpr char kDetailedExceptionsValue[] = "DetailedExceptions";      // Debugging
inline constexpr char kFlyOverWatchesValue[] = "FlyOverWatches";              // Debugging
inline constexpr char kEnableCPUValue[] = "EnableCPU";                        // Debugging

// A text that is not a decimal integer: "'%s' is not a valid integer value".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Signed decimal integer (leading blanks allowed), else EConvertError.
int StrToInt(const std::string& text);

// True when the Delphi 3 key can be opened.
bool IsDelphi3Installed();
// Root HKEY_CURRENT_USER, then "SOFTWARE", "Borland", "Delphi", "3.0" one
// level at a time without creating; on failure the key is closed.
bool OpenDelphi3Key(RegistryAccessor& reg);

// Replaces names with the value names of "Known Packages" in enumeration
// (load) order, then appends each one's description to descriptions. A
// missing key leaves both lists as they were. A value that is not a string
// raises "Invalid data type for '%s'".
// With storedNames, that list is replaced with the names exactly as stored
// (parallel to names, which holds them in the code page, where two names
// that differ only in characters the code page lacks look alike).
void ReadKnownPackages(std::vector<std::string>& names, std::vector<std::string>& descriptions,
                       std::vector<std::u16string>* storedNames = nullptr);
void ReadDisabledPackages(std::vector<std::string>& names, std::vector<std::string>& descriptions,
                          std::vector<std::u16string>* storedNames = nullptr);
// Creates or overwrites the value path = description under "Known Packages".
// The writes of this unit return false when the subkey is missing and
// nothing was stored.
bool WriteKnownPackage(const std::string& path, const std::string& description);
// The same with a description in UTF-16, stored as it is (a package's
// DESCRIPTION resource may hold text the code page cannot).
bool WriteKnownPackage(const std::string& path, const std::u16string& description);
// False when the key or the value is not there; a hive that cannot be
// written raises ERegistryException.
bool DeleteKnownPackage(const std::string& path);
bool DeleteDisabledPackage(const std::string& path);
// Deletes the value of exactly this stored name under "Known Packages" and,
// with disabledToo, under "Disabled Packages", in one atomic change of the
// hive file. Values or keys that are not there are passed over silently;
// false when there was nothing to delete (nothing is written then). A hive
// that cannot be written raises ERegistryException and changes nothing.
bool DeletePackageValues(const std::u16string& storedName, bool disabledToo);
// Exchanges the places of two values of "Known Packages" (exact stored
// names) in the enumeration order, each keeping its name and data as
// stored, in one atomic change. False, with nothing changed, when either
// value is not there; ERegistryException when the hive cannot be written.
bool SwapKnownPackages(const std::u16string& first, const std::u16string& second);
// Rewrites "Known Packages" in the new order (ReplaceKeyValues). Does
// nothing unless both new lists are given.
void RewriteKnownPackages(const std::vector<std::string>* oldNames,
                          const std::vector<std::string>* newNames,
                          const std::vector<std::string>* newDescriptions);

std::string ReadAddToPackageName();
bool WriteAddToPackageName(const std::string& name);
std::string ReadLibrarySearchPath();
bool WriteLibrarySearchPath(const std::string& path);
std::string ReadPackageDLLOutputDir();
bool WritePackageDLLOutputDir(const std::string& dir);
std::string ReadPackageDCPOutputDir();
bool WritePackageDCPOutputDir(const std::string& dir);

// The text of a value under a subkey of the Delphi 3 key exactly as stored
// (every character kept); empty when the key or value is missing. A value
// that is not a string raises "Invalid data type for '%s'".
std::u16string ReadSettingText(const char* subkey, const char* valueName);
// Stores text exactly as given (REG_SZ). False when the subkey is missing
// and nothing was stored. A value already holding the text is not rewritten
// (written, when given, tells whether the file changed). A hive that cannot
// be written raises "Failed to set data for '%s'".
bool WriteSettingText(const char* subkey, const char* valueName, std::u16string_view text,
                      bool* written = nullptr);

// Flags are REG_SZ decimal texts: absent or empty reads 0, any other text
// is converted (EConvertError when it is not an integer); writes store the
// decimal text ("0", "1").
int ReadCompilingOption(const std::string& valueName);
bool WriteCompilingOption(const std::string& valueName, int value);
int ReadDebuggingOption(const std::string& valueName);
bool WriteDebuggingOption(const std::string& valueName, int value);

// Appends the shared-DLL names whose extension is ".dpl" (any case).
void ReadSharedPackages(std::vector<std::string>& list);

}  // namespace kx
