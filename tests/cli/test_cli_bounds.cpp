// Small files that claim huge images, tables or trees: every command ends
// cleanly, quickly and with a small peak of memory, whatever the headers claim.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pe_builder.h"

namespace {

namespace fs = std::filesystem;
using kx::test::Get32;
using kx::test::Put16;
using kx::test::Put32;

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxPeakKb = 256 * 1024;  // the sanitizer's own memory on top
constexpr double kMaxSeconds = 5.0;
#else
constexpr long kMaxPeakKb = 64 * 1024;
constexpr double kMaxSeconds = 1.0;
#endif

struct CliRun {
  int rc = -1;
  long peakKb = 0;
  double seconds = 0;
};

// Runs the CLI in a child of its own and reads that child's peak memory.
CliRun RunCli(const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    setenv("WINEPREFIX", "/nonexistent-kx-prefix", 1);
    alarm(60);  // a command that hangs ends here, and the test fails
    std::vector<char*> argv{const_cast<char*>(KX_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KX_CLI_PATH, argv.data());
    _exit(127);
  }
  CliRun r;
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.peakKb = usage.ru_maxrss;
  return r;
}

enum Claim { kImage = 1, kExports = 2, kResourceTree = 4 };

// A small package whose headers claim what the flags say: a 255 MiB image
// (the last section's zero fill reaching to its end), 16 million exports with
// their tables in that zero fill, or a resource tree of 26 levels in which
// both entries of every level share the next level (2^26 paths).
std::vector<uint8_t> Hostile(int claims) {
  kx::test::PeSpec spec = kx::test::PackageSpec(0x40000000, {}, {{0, "U"}}, {}, {{"U.F@1"}});
  spec.resources.push_back(
      {kx::test::PeResName::Id(10), kx::test::PeResName::Id(7), 0, std::vector<uint8_t>(1024, 0)});
  kx::test::PeLayout layout;
  std::vector<uint8_t> b = kx::test::BuildPe(spec, &layout);
  if (claims & kImage) {
    const uint32_t size = 0x0FF00000;
    Put32(b, layout.optionalHeader + 56, size);
    const size_t last = layout.sections.size() - 1;
    Put32(b, layout.sectionTable + 40 * uint32_t(last) + 8, size - layout.sections[last].rva);
  }
  if (claims & kExports) {
    const uint32_t dir = layout.Offset(layout.exportDir);
    Put32(b, dir + 20, 0x01000000);
    Put32(b, dir + 24, 0x01000000);
    Put32(b, dir + 28, 0x01000000);
    Put32(b, dir + 32, 0x05000000);
    Put32(b, dir + 36, 0x09000000);
  }
  if (claims & kResourceTree) {
    const uint32_t root = layout.Offset(layout.resourceDir);
    constexpr uint32_t kLevels = 26;
    EXPECT_LE(root + 32 * kLevels + 16, b.size());
    for (uint32_t i = 0; i < kLevels; ++i) {
      const uint32_t d = root + 32 * i;
      Put32(b, d + 12, 0);
      Put16(b, d + 14, 2);
      // Both entries lead to the next level; the last level's to one data entry.
      const uint32_t next = i + 1 < kLevels ? 0x80000000u | (32 * (i + 1)) : 32 * kLevels;
      for (uint32_t e = 0; e < 2; ++e) {
        Put32(b, d + 16 + 8 * e, e + 1);
        Put32(b, d + 16 + 8 * e + 4, next);
      }
    }
    Put32(b, root + 32 * kLevels, layout.resourceDir);
    Put32(b, root + 32 * kLevels + 4, 16);
  }
  return b;
}

TEST(CliBounds, SmallFilesClaimingHugeImagesTablesAndTreesStaySmallAndQuick) {
  const fs::path dir = fs::temp_directory_path() / ("kx-bounds-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const struct {
    const char* name;
    int claims;
  } files[] = {{"image", kImage},
               {"exports", kImage | kExports},
               {"tree", kImage | kResourceTree},
               {"all", kImage | kExports | kResourceTree}};
  const std::vector<std::vector<std::string>> commands = {{"info"},
                                                          {"exports"},
                                                          {"exports", "--as-data"},
                                                          {"structure", "--as-data"},
                                                          {"imports", "--as-data"},
                                                          {"resources", "--as-data"}};
  long worstKb = 0;
  double worstSeconds = 0;
  for (const auto& f : files) {
    const fs::path file = dir / (std::string(f.name) + ".dpl");
    kx::test::WriteBytes(file, Hostile(f.claims));
    ASSERT_LT(fs::file_size(file), 8192u);
    for (std::vector<std::string> args : commands) {
      const std::string what =
          std::string(f.name) + ": " + args[0] + " " + (args.size() > 1 ? args[1] : std::string());
      args.insert(args.begin() + 1, file.string());
      const CliRun r = RunCli(args);
      EXPECT_TRUE(r.rc == 0 || r.rc == 1) << what << " exit " << r.rc;
      EXPECT_LT(r.peakKb, kMaxPeakKb) << what;
      EXPECT_LT(r.seconds, kMaxSeconds) << what;
      worstKb = std::max(worstKb, r.peakKb);
      worstSeconds = std::max(worstSeconds, r.seconds);
    }
  }
  RecordProperty("worst_peak_kb", static_cast<int>(worstKb));
  RecordProperty("worst_ms", static_cast<int>(worstSeconds * 1000));
  fs::remove_all(dir);
}

TEST(CliBounds, DataFileCommandsOnAFileThatIsNoImageExitOne) {
  const fs::path file = fs::temp_directory_path() / ("kx-notpe-" + std::to_string(getpid()));
  kx::test::WriteBytes(file, {'h', 'e', 'l', 'l', 'o'});
  for (const char* command : {"exports", "structure", "imports", "resources"})
    EXPECT_EQ(RunCli({command, file.string(), "--as-data"}).rc, 1) << command;
  fs::remove(file);
}

// A FIFO is no file: every command that is given one ends at once instead
// of waiting for a writer.
TEST(CliBounds, AFifoIsNoFile) {
  const fs::path fifo =
      fs::temp_directory_path() / ("kx-fifo-" + std::to_string(getpid()) + ".dpl");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"info", fifo.string()},
                                             {"imports", fifo.string(), "--as-data"},
                                             {"dcp", fifo.string()},
                                             {"deploy", fifo.string()}})
    EXPECT_EQ(RunCli(args).rc, 1) << args[0];
  fs::remove(fifo);
}

}  // namespace
