#include "support/demo_prefix.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kx::test {
namespace fs = std::filesystem;

DemoPrefixCopy::DemoPrefixCopy(const char* fixturePrefix) {
  std::string pattern = (fs::temp_directory_path() / "kx-demo-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  fs::copy(fs::path(KX_FIXTURES_DIR) / fixturePrefix, root_,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  scope_ = std::make_unique<ScopedSystem>(WinSystem::ForPrefix(root_));
}

DemoPrefixCopy::~DemoPrefixCopy() {
  scope_.reset();
  std::error_code ec;
  fs::remove_all(root_, ec);
}

std::string DemoPrefixCopy::UserReg() const {
  std::ifstream in(root_ / "user.reg", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace kx::test
