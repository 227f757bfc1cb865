#pragma once
// A private Windows personality for a test: a Wine-style prefix in a fresh
// temporary folder, installed as the current system for the test's lifetime.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

namespace kx::test {

// A private Wine-style prefix in a fresh temp folder: dosdevices/c: -> ../drive_c,
// dosdevices/z: -> /, drive_c/windows/system32 (and drive_c/windows/syswow64 for
// win64), minimal user.reg/system.reg headers. Installs a WinSystem over it with
// ScopedSystem; current directory "C:\", program file
// "C:\Program Files\Kestrix\kestrix.exe". Removes the folder on destruction.
class TempPrefix {
 public:
  explicit TempPrefix(bool win64 = false);
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  // The prefix folder.
  const std::filesystem::path& Root() const;
  // "C:\dir\file" -> <root>/drive_c/dir/file, taken literally (no case
  // resolution, no redirection). Other drives: Z: maps to "/".
  std::filesystem::path Host(std::string_view windowsPath) const;
  // Writes a file at a Windows path (C:\...), creating folders; returns the host path.
  std::filesystem::path WriteFile(std::string_view windowsPath, const std::vector<uint8_t>& bytes);
  std::filesystem::path WriteText(std::string_view windowsPath, std::string_view text);
  WinSystem& System();

 private:
  std::filesystem::path root_;
  WinSystem* system_ = nullptr;
  std::unique_ptr<ScopedSystem> scope_;
};

std::vector<uint8_t> ReadHostFile(const std::filesystem::path& path);

// A word for /bin/sh: the text in single quotes, each ' written as '\''.
std::string Quote(const std::string& s);

// The whole content of a host file; empty when it cannot be read.
std::string ReadHostText(const std::filesystem::path& path);

}  // namespace kx::test
