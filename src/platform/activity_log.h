#pragma once
// The activity log: a plain-text trace of what the main window does at
// start-up, at shut-down and in the few operations that swallow errors.
//
// Whether it writes anything is fixed when the program is built (CMake
// option KESTRIX_ACTIVITY_LOG, off by default). With the switch off no file
// is created and every call returns at once. With it on, "c:\Kestrix.log"
// (resolved through the drive map) is created anew at start-up; every line
// is the caller's text followed by CR LF, in the system code page, with no
// time stamp or prefix of its own.
#include <cstdio>
#include <string>
#include <string_view>

namespace kx {

#ifdef KESTRIX_ACTIVITY_LOG
inline constexpr bool LoggingEnabled = true;
#else
inline constexpr bool LoggingEnabled = false;
#endif

// The Windows path of the log file.
inline constexpr const char* kActivityLogFile = "c:\\Kestrix.log";

// One log stream. The program uses the process-wide one through OpenLog,
// LogLine and CloseLog; tests build their own to check both switch values.
class ActivityLog {
 public:
  ActivityLog(bool enabled, std::string windowsFileName);
  ~ActivityLog();
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  // Creates (truncates) the file and writes "*** Log Started: " + the
  // current date and time. When the file cannot be created the log stays
  // closed and later lines are dropped: the log reports no errors.
  void Open();
  // Writes text + "\r\n" at the end of the file; nothing when not open.
  void Line(std::string_view text);
  // Writes "*** Log Closed: " + the current date and time and closes.
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  bool enabled_;
  std::string fileName_;
  std::FILE* file_ = nullptr;
};

// The current local date and time as a date value (days since 1899-12-30).
double NowDateValue();

void OpenLog();
void LogLine(std::string_view text);
void CloseLog();

}  // namespace kx
