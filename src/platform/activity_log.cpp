#include "platform/activity_log.h"

#include "platform/codepage.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/formats.h"
#include "platform/system.h"

namespace kx {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// 1899-12-30 is 25569 days before 1970-01-01.
constexpr int64_t kDelphiEpochOffset = 25569;

std::string Stamp() {
  const double now = NowDateValue();
  return FormatShortDate(now) + " " + FormatLongTime(now);
}

}  // namespace

double NowDateValue() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  const int64_t days = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                     static_cast<unsigned>(local.tm_mday)) +
                       kDelphiEpochOffset;
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  return static_cast<double>(days) + seconds / 86400.0;
}

ActivityLog::ActivityLog(bool enabled, std::string windowsFileName)
    : enabled_(enabled), fileName_(std::move(windowsFileName)) {}

ActivityLog::~ActivityLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void ActivityLog::Open() {
  if (!enabled_) return;
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  const std::optional<std::filesystem::path> host = Sys().ToHost(fileName_);
  if (!host) return;
  file_ = std::fopen(host->c_str(), "wb");
  if (file_ == nullptr) return;
  Line("*** Log Started: " + Stamp());
}

void ActivityLog::Line(std::string_view text) {
  if (!enabled_ || file_ == nullptr) return;
  const std::string bytes = Utf8ToAnsi(text);
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  std::fwrite("\r\n", 1, 2, file_);
  // Flushed per line so that the trace survives a crash.
  std::fflush(file_);
}

void ActivityLog::Close() {
  if (!enabled_ || file_ == nullptr) return;
  Line("*** Log Closed: " + Stamp());
  std::fclose(file_);
  file_ = nullptr;
}

namespace {
[[maybe_unused]] ActivityLog& TheLog() {
  static ActivityLog log(LoggingEnabled, kActivityLogFile);
  return log;
}
}  // namespace

void OpenLog() {
  if constexpr (LoggingEnabled) TheLog().Open();
}

void LogLine(std::string_view text) {
  if constexpr (LoggingEnabled) TheLog().Line(text);
}

void CloseLog() {
  if constexpr (LoggingEnabled) TheLog().Close();
}

}  // namespace kx
