#pragma once
// Helpers shared by the package tests: a meter that records what it was
// told, and short-hands for writing synthetic modules into a test prefix.
#include <string>
#include <vector>

#include "platform/ui.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx::test {

class RecordingMeter : public ProgressMeter {
 public:
  void SetLabel(const std::string& text) override { events.push_back("label:" + text); }
  void SetTotal(int total) override { events.push_back("total:" + std::to_string(total)); }
  void SetCompleted(int completed) override {
    completedValues.push_back(completed);
    events.push_back("completed:" + std::to_string(completed));
  }
  void Show() override { events.push_back("show"); }
  void Hide() override { events.push_back("hide"); }
  std::vector<std::string> events;
  std::vector<int> completedValues;
};

// Writes a built image at a Windows path of the prefix.
inline void WritePe(TempPrefix& prefix, const std::string& windowsPath, const PeSpec& spec) {
  prefix.WriteFile(windowsPath, BuildPe(spec));
}

}  // namespace kx::test
