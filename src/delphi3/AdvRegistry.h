#pragma once
// The system's shared-DLL table and the rewrite of a key's values in a new
// order.
#include <string>
#include <vector>

#include "platform/registry_hive.h"

namespace kx {

// Root HKEY_LOCAL_MACHINE, then "SOFTWARE", "Microsoft", "Windows",
// "CurrentVersion" one level at a time without creating; on failure the key
// is closed.
bool OpenWindowsCurrentVersionKey(RegistryAccessor& reg);
// Replaces list with the value names of ...\CurrentVersion\SharedDLLs in
// enumeration order; leaves it alone when the key is missing.
void ReadSharedDLLNames(std::vector<std::string>& list);

// Rewrites the values of the key open in reg so that they enumerate in the
// order of newNames: deletes every old name, then writes every new name with
// its description (REG_SZ), all in one atomic change of the hive file, so
// the key holds either its old values or the complete new set. A name or
// description the code page cannot hold is written back as stored. An old
// name that is not in the key raises "Error removing old known package!"
// and changes nothing; a key that can be neither found nor made again (only
// its own level is ever created) or a file that cannot be written gives
// "Failed to set data for '%s'" with the first new name.
void ReplaceKeyValues(RegistryAccessor& reg, const std::vector<std::string>& oldNames,
                      const std::vector<std::string>& newNames,
                      const std::vector<std::string>& newDescriptions);

}  // namespace kx
