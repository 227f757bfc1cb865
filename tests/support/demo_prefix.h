#pragma once
// A private copy of the demo prefix (tests/fixtures/demo-prefix), or of
// another fixture prefix under tests/fixtures, installed as the current
// system for the lifetime of the object, so that tests may change its
// registry and files.
#include <filesystem>
#include <memory>

#include "platform/system.h"

namespace kx::test {

class DemoPrefixCopy {
 public:
  explicit DemoPrefixCopy(const char* fixturePrefix = "demo-prefix");
  ~DemoPrefixCopy();
  DemoPrefixCopy(const DemoPrefixCopy&) = delete;
  DemoPrefixCopy& operator=(const DemoPrefixCopy&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  // The current contents of user.reg.
  std::string UserReg() const;

 private:
  std::filesystem::path root_;
  std::unique_ptr<ScopedSystem> scope_;
};

}  // namespace kx::test
