// Number, address, date and time texts under fixed regional settings.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/formats.h"

namespace kx {
namespace {

RegionalSettings Us() { return RegionalSettings{}; }

RegionalSettings German() {
  RegionalSettings rs;
  rs.thousandSeparator = '.';
  rs.dateSeparator = '.';
  rs.shortDateFormat = "dd.MM.yyyy";
  rs.longTimeFormat = "HH:mm:ss";
  rs.timeAMString = "";
  rs.timePMString = "";
  return rs;
}

// 2001-02-03 (a Saturday) at 13:05:09.
const double kSample = 36925.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0;

TEST(Formats, ByteCountsGroupDigitsByThree) {
  const RegionalSettings us = Us();
  EXPECT_EQ(FormatByteCount(0, us), "0");
  EXPECT_EQ(FormatByteCount(7, us), "7");
  EXPECT_EQ(FormatByteCount(999, us), "999");
  EXPECT_EQ(FormatByteCount(1000, us), "1,000");
  EXPECT_EQ(FormatByteCount(100000, us), "100,000");
  EXPECT_EQ(FormatByteCount(1234567, us), "1,234,567");
  EXPECT_EQ(FormatByteCount(4294967295LL, us), "4,294,967,295");
  EXPECT_EQ(FormatByteCount(-999, us), "-999");
  EXPECT_EQ(FormatByteCount(-1000, us), "-1,000");
  EXPECT_EQ(FormatByteCount(-1234567, us), "-1,234,567");
  EXPECT_EQ(FormatByteCount(std::numeric_limits<int64_t>::min(), us), "-9,223,372,036,854,775,808");
  EXPECT_EQ(FormatByteCount(1234567, German()), "1.234.567");
  RegionalSettings nbsp;
  nbsp.thousandSeparator = "\u00A0";
  EXPECT_EQ(FormatByteCount(1234, nbsp), "1\u00A0234");
}

TEST(Formats, ByteCountsUseTheCurrentSystemsSeparator) {
  RegionalSettings saved = Sys().Regional();
  Sys().Regional().thousandSeparator = '\'';
  EXPECT_EQ(FormatByteCount(12345), "12'345");
  Sys().Regional() = saved;
}

TEST(Formats, HexAddressesHaveEightUpperCaseDigits) {
  EXPECT_EQ(HexAddress(0), "$00000000");
  EXPECT_EQ(HexAddress(0x400000), "$00400000");
  EXPECT_EQ(HexAddress(0xDEADBEEF), "$DEADBEEF");
  EXPECT_EQ(HexAddress(0xFFFFFFFF), "$FFFFFFFF");
}

TEST(Formats, DatePatternLetters) {
  const RegionalSettings us = Us();
  EXPECT_EQ(FormatDateTimePattern(kSample, "M/d/yyyy", us), "2/3/2001");
  EXPECT_EQ(FormatDateTimePattern(kSample, "MM/dd/yy", us), "02/03/01");
  EXPECT_EQ(FormatDateTimePattern(kSample, "y", us), "1");
  EXPECT_EQ(FormatDateTimePattern(kSample, "yyy", us), "2001");
  EXPECT_EQ(FormatDateTimePattern(kSample, "dddd, MMMM d", us), "Saturday, February 3");
  EXPECT_EQ(FormatDateTimePattern(kSample, "ddd d MMM", us), "Sat 3 Feb");
  EXPECT_EQ(FormatDateTimePattern(kSample, "dd.MM.yyyy", us), "03.02.2001");
  // Quoted text is copied; '' is one quote.
  EXPECT_EQ(FormatDateTimePattern(kSample, "'day' d 'o''clock' ''", us), "day 3 o'clock '");
  EXPECT_EQ(FormatDateTimePattern(kSample, "'unterminated d", us), "unterminated d");
  // '/' and ':' stand for the regional separators.
  RegionalSettings dashed = us;
  dashed.dateSeparator = '-';
  dashed.timeSeparator = '.';
  EXPECT_EQ(FormatDateTimePattern(kSample, "M/d/yyyy h:mm", dashed), "2-3-2001 1.05");
}

TEST(Formats, TimePatternLetters) {
  const RegionalSettings us = Us();
  EXPECT_EQ(FormatDateTimePattern(kSample, "h:mm:ss tt", us), "1:05:09 PM");
  EXPECT_EQ(FormatDateTimePattern(kSample, "hh:m:s t", us), "01:5:9 P");
  EXPECT_EQ(FormatDateTimePattern(kSample, "HH:mm", us), "13:05");
  EXPECT_EQ(FormatDateTimePattern(36925.0, "h:mm tt H", us), "12:00 AM 0");
  EXPECT_EQ(FormatDateTimePattern(36925.5, "h:mm tt", us), "12:00 PM");
  // A fraction that rounds up to midnight belongs to the next day.
  EXPECT_EQ(FormatDateTimePattern(36925.9999999999, "M/d/yyyy HH:mm:ss", us), "2/4/2001 00:00:00");
}

TEST(Formats, DateValuesAroundTheOrigin) {
  const RegionalSettings us = Us();
  EXPECT_EQ(FormatShortDate(0, us), "12/30/1899");
  EXPECT_EQ(FormatDateTimePattern(0, "dddd", us), "Saturday");
  // Negative values: the whole part counts days back, the fraction is the
  // time of day, as in Delphi.
  EXPECT_EQ(FormatDateTimePattern(-1.25, "M/d/yyyy HH:mm", us), "12/29/1899 06:00");
  EXPECT_EQ(FormatShortDate(2.0, us), "1/1/1900");
  EXPECT_EQ(FormatShortDate(29221.0, us), "1/1/1980");
  EXPECT_EQ(FormatShortDate(36585.0, us), "2/29/2000");
}

TEST(Formats, ShortDateAndLongTimeUseTheRegionalFormats) {
  EXPECT_EQ(FormatShortDate(kSample, Us()), "2/3/2001");
  EXPECT_EQ(FormatLongTime(kSample, Us()), "1:05:09 PM");
  EXPECT_EQ(FormatShortDate(kSample, German()), "03.02.2001");
  EXPECT_EQ(FormatLongTime(kSample, German()), "13:05:09");
}

}  // namespace
}  // namespace kx
