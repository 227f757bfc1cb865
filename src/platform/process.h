#pragma once
// The emulated Win32 process: its address space and a module loader that
// maps PE32 images the way the system loader does, without ever executing
// any of their code. Module handles are load addresses.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image_memory.h"

namespace kx {

using HMODULE = uint32_t;

constexpr uint32_t LOAD_LIBRARY_AS_DATAFILE = 0x00000002;

// Windows error codes the loader reports through GetLastError.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_BAD_FORMAT = 11;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
constexpr uint32_t ERROR_STACK_OVERFLOW = 1001;
constexpr uint32_t ERROR_DLL_INIT_FAILED = 1114;

// The system's message text for an error code (FormatMessage): 2 "The
// system cannot find the file specified.", 126 "The specified module could
// not be found.", 127 "The specified procedure could not be found.", 193
// "%1 is not a valid Win32 application." (%1 filled with insert when given).
std::string SystemErrorText(uint32_t code, std::string_view insert = {});

// Whether a module file name ("KERNEL32.DLL", "comctl32.dll", "winspool.drv")
// names one of the core system libraries the loader provides built in when
// no file of that name is found.
bool IsCoreSystemLibrary(std::string_view fileName);

// A resource type or name: a 16-bit id or a string. A string "#123" means
// id 123, as FindResource takes it.
struct ResId {
  bool isId = true;
  uint16_t id = 0;
  std::string name;
  static ResId Id(uint16_t v) { return ResId{true, v, {}}; }
  static ResId Name(std::string_view n);
};
constexpr uint16_t RT_RCDATA = 10;

// One resource's data inside a loaded image.
struct ResourceData {
  uint32_t address = 0;  // in the process address space
  uint32_t size = 0;
};

// The loaded-module record (what Windows keeps per module).
struct ModuleRecord {
  HMODULE handle = 0;      // = load address
  uint32_t loadBase = 0;   // where the image is mapped
  uint32_t imageBase = 0;  // preferred base from the file's optional header
  uint32_t sizeOfImage = 0;
  // Bytes of the file the image was read from: tables cannot hold more
  // entries than these bytes can, whatever size the headers claim.
  uint64_t fileSize = 0;
  uint32_t ntHeaders = 0;  // address of the NT headers in the mapped image
  std::string fileName;    // full Windows file name
  std::string baseName;    // file name part, as found on disk
  bool builtin = false;    // a core system library provided without a file
  bool dataFile = false;   // mapped with LOAD_LIBRARY_AS_DATAFILE
  int refCount = 0;
  std::vector<HMODULE> dependencies;  // modules loaded for its imports, one reference each
  ImageMemory image;                  // SizeOfImage bytes, headers and sections in place
};

class Process {
 public:
  Process();
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // LoadLibraryA: search order for a bare name is a loaded module of that
  // name, the program's folder, the current directory, the system
  // directory, the 16-bit system folder (<Windows>\system) when it exists,
  // the Windows directory, then each PATH folder; a name without
  // an extension gets ".dll"; a name with a path is used as it stands.
  // Imports are resolved recursively; a missing module or procedure fails
  // the load and releases everything loaded for it. Returns 0 on failure
  // with the reason in LastError().
  HMODULE LoadLibrary(std::string_view name);
  HMODULE LoadLibraryEx(std::string_view name, uint32_t flags);
  // Drops one reference; at zero the module and the references it holds
  // on its imports are released. false for an unknown handle.
  bool FreeLibrary(HMODULE module);
  // Address of an export by name or by ordinal; 0 when absent (LastError 127).
  // Forwarded exports resolve to their target. A built-in system module
  // binds every import made of it, but has no export table to look a name
  // up in: asked directly, it answers none (127).
  uint32_t GetProcAddress(HMODULE module, std::string_view name);
  uint32_t GetProcAddress(HMODULE module, uint16_t ordinal);
  // A loaded module by name ("vcl30.dpl", "KERNEL32", full path); 0 if none.
  HMODULE GetModuleHandle(std::string_view name) const;
  // Full Windows file name; empty for an unknown handle.
  std::string GetModuleFileName(HMODULE module) const;
  uint32_t LastError() const { return lastError_; }
  void SetLastError(uint32_t code) { lastError_ = code; }

  const ModuleRecord* Module(HMODULE module) const;
  // Every loaded module in load order (the system's table of modules).
  std::vector<const ModuleRecord*> Modules() const;

  // Resources of a loaded module by type and name (names compare ignoring
  // case, as Windows upper-cases them); the first language entry is taken.
  std::optional<ResourceData> FindResource(HMODULE module, const ResId& name,
                                           const ResId& type) const;

  // Bounds-checked reads of the address space. Every read must lie inside
  // one mapped image; otherwise EReadError.
  std::span<const uint8_t> View(uint32_t address, uint32_t size) const;
  bool IsMapped(uint32_t address, uint32_t size) const;
  uint8_t ReadU8(uint32_t address) const;
  uint16_t ReadU16(uint32_t address) const;
  uint32_t ReadU32(uint32_t address) const;
  // Zero-terminated 8-bit text in the system code page, as UTF-8; stops at
  // maxLength or the end of the image.
  std::string ReadCString(uint32_t address, size_t maxLength = 65536) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  uint32_t lastError_ = 0;
};

}  // namespace kx
