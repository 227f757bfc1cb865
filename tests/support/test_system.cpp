#include "support/test_system.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace kx::test {
namespace fs = std::filesystem;

namespace {

void WriteHostText(const fs::path& path, std::string_view text) {
  // Replacing rather than truncating: ext4 flushes a truncated file on close,
  // which makes tests that rewrite files in a loop slow.
  std::error_code ec;
  fs::remove(path, ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

fs::path MakeTempFolder() {
  std::string pattern = (fs::temp_directory_path() / "kx-prefix-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return fs::path(pattern);
}

}  // namespace

TempPrefix::TempPrefix(bool win64) : root_(MakeTempFolder()) {
  fs::create_directories(root_ / "dosdevices");
  fs::create_directories(root_ / "drive_c" / "windows" / "system32");
  if (win64) fs::create_directories(root_ / "drive_c" / "windows" / "syswow64");
  fs::create_symlink("../drive_c", root_ / "dosdevices" / "c:");
  fs::create_symlink("/", root_ / "dosdevices" / "z:");
  const std::string arch = win64 ? "#arch=win64\n" : "#arch=win32\n";
  WriteHostText(root_ / "system.reg",
                "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n" + arch);
  WriteHostText(root_ / "user.reg",
                "WINE REGISTRY Version 2\n;; All keys relative to "
                "\\\\User\\\\S-1-5-21-0-0-0-1000\n\n" +
                    arch);
  std::unique_ptr<WinSystem> sys = WinSystem::ForPrefix(root_);
  sys->SetCurrentDirectory("C:\\");
  sys->SetProgramFileName("C:\\Program Files\\Kestrix\\kestrix.exe");
  system_ = sys.get();
  scope_ = std::make_unique<ScopedSystem>(std::move(sys));
}

TempPrefix::~TempPrefix() {
  scope_.reset();
  std::error_code ec;
  fs::remove_all(root_, ec);
}

const fs::path& TempPrefix::Root() const { return root_; }

fs::path TempPrefix::Host(std::string_view windowsPath) const {
  if (windowsPath.size() < 2 || windowsPath[1] != ':')
    throw std::invalid_argument("not a drive path: " + std::string(windowsPath));
  fs::path result;
  switch (windowsPath[0]) {
    case 'c':
    case 'C':
      result = root_ / "drive_c";
      break;
    case 'z':
    case 'Z':
      result = "/";
      break;
    default:
      throw std::invalid_argument("drive not in the test prefix: " + std::string(windowsPath));
  }
  std::string_view rest = windowsPath.substr(2);
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find_first_of("\\/", pos);
    if (next == std::string_view::npos) next = rest.size();
    if (next > pos) result /= std::string(rest.substr(pos, next - pos));
    pos = next + 1;
  }
  return result;
}

fs::path TempPrefix::WriteFile(std::string_view windowsPath, const std::vector<uint8_t>& bytes) {
  fs::path host = Host(windowsPath);
  fs::create_directories(host.parent_path());
  WriteHostText(host, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return host;
}

fs::path TempPrefix::WriteText(std::string_view windowsPath, std::string_view text) {
  fs::path host = Host(windowsPath);
  fs::create_directories(host.parent_path());
  WriteHostText(host, text);
  return host;
}

WinSystem& TempPrefix::System() { return *system_; }

std::vector<uint8_t> ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadHostText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kx::test
