#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/activity_log.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  const std::vector<uint8_t> bytes = test::ReadHostFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Splits at CR LF; fails the test when a line ends in a bare LF or the text
// does not end in CR LF.
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text does not end in CR LF: " << text.substr(pos);
      break;
    }
    const std::string line = text.substr(pos, end - pos);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line break in " << line;
    lines.push_back(line);
    pos = end + 2;
  }
  return lines;
}

TEST(ActivityLog, EnabledLogFramesLinesWithStartAndCloseStamps) {
  test::TempPrefix prefix;
  ActivityLog log(true, "c:\\Logs\\Trace.log");
  fs::create_directories(prefix.Host("C:\\Logs"));
  log.Open();
  ASSERT_TRUE(log.IsOpen());
  log.Line("*** Initailizing Form...");
  log.Line("");
  log.Line("! Adding \"vcl30.DPL\"...ERROR: ");
  log.Close();
  EXPECT_FALSE(log.IsOpen());

  const std::string text = ReadText(prefix.Host("C:\\Logs\\Trace.log"));
  const std::vector<std::string> lines = CrLfLines(text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("*** Log Started: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "*** Initailizing Form...");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "! Adding \"vcl30.DPL\"...ERROR: ");
  EXPECT_EQ(lines[4].rfind("*** Log Closed: ", 0), 0u) << lines[4];
  // The stamp is the short date and the long time of the US defaults
  // (C locale): "M/d/yyyy h:mm:ss AM".
  const std::string stamp = lines[0].substr(17);
  EXPECT_NE(stamp.find('/'), std::string::npos) << stamp;
  EXPECT_NE(stamp.find(':'), std::string::npos) << stamp;
  EXPECT_TRUE(stamp.ends_with("AM") || stamp.ends_with("PM")) << stamp;
}

TEST(ActivityLog, EveryStartCreatesTheFileAnew) {
  test::TempPrefix prefix;
  prefix.WriteText("C:\\Kestrix.log", "old contents that must go\r\n");
  ActivityLog log(true, "c:\\Kestrix.log");
  log.Open();
  log.Line("first run");
  log.Close();
  log.Open();
  log.Line("second run");
  log.Close();
  const std::vector<std::string> lines = CrLfLines(ReadText(prefix.Host("C:\\Kestrix.log")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "second run");
}

TEST(ActivityLog, LinesOutsideOpenAndCloseAreDropped) {
  test::TempPrefix prefix;
  ActivityLog log(true, "c:\\Kestrix.log");
  log.Line("before open");
  log.Close();  // closing a log that is not open writes nothing
  EXPECT_FALSE(fs::exists(prefix.Host("C:\\Kestrix.log")));
  log.Open();
  log.Close();
  log.Line("after close");
  const std::vector<std::string> lines = CrLfLines(ReadText(prefix.Host("C:\\Kestrix.log")));
  ASSERT_EQ(lines.size(), 2u);
}

TEST(ActivityLog, AFileThatCannotBeCreatedLeavesTheLogSilentlyClosed) {
  test::TempPrefix prefix;
  ActivityLog unmapped(true, "q:\\Kestrix.log");  // no drive Q: in the prefix
  unmapped.Open();
  EXPECT_FALSE(unmapped.IsOpen());
  unmapped.Line("dropped");
  unmapped.Close();
  ActivityLog missingFolder(true, "c:\\no such folder\\Kestrix.log");
  missingFolder.Open();
  EXPECT_FALSE(missingFolder.IsOpen());
  missingFolder.Close();
}

TEST(ActivityLog, DisabledLogNeitherCreatesNorChangesTheFile) {
  test::TempPrefix prefix;
  {
    ActivityLog log(false, "c:\\Kestrix.log");
    log.Open();
    log.Line("text");
    log.Close();
    EXPECT_FALSE(log.IsOpen());
  }
  EXPECT_FALSE(fs::exists(prefix.Host("C:\\Kestrix.log")));
  prefix.WriteText("C:\\Kestrix.log", "kept\r\n");
  {
    ActivityLog log(false, "c:\\Kestrix.log");
    log.Open();
    log.Line("text");
    log.Close();
  }
  EXPECT_EQ(ReadText(prefix.Host("C:\\Kestrix.log")), "kept\r\n");
}

// The process-wide log follows the switch the program was built with.
TEST(ActivityLog, ProgramLogFollowsTheBuildSwitch) {
  test::TempPrefix prefix;
  OpenLog();
  LogLine("*** Initailizing Form...");
  CloseLog();
  const fs::path file = prefix.Host("C:\\Kestrix.log");
  if (!LoggingEnabled) {
    EXPECT_FALSE(fs::exists(file));
    return;
  }
  const std::vector<std::string> lines = CrLfLines(ReadText(file));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("*** Log Started: ", 0), 0u);
  EXPECT_EQ(lines[1], "*** Initailizing Form...");
  EXPECT_EQ(lines[2].rfind("*** Log Closed: ", 0), 0u);
}

TEST(ActivityLog, NowIsADateValueOfToday) {
  const double now = NowDateValue();
  // 2020-01-01 is day 43831; the clock of any machine running this is later.
  EXPECT_GT(now, 43831.0);
  EXPECT_LT(now, 43831.0 + 365.0 * 200);
}

}  // namespace
}  // namespace kx
