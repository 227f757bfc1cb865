// kestrix-cli on prefixes made for other code pages and regions
// (tests/fixtures/cp1251-prefix: Russian, ACP 1251; cp932-prefix: Japanese,
// ACP 932; see tests/fixtures/README.md) and on the demo prefix: names and
// descriptions in Cyrillic, Chinese and Shift-JIS (whose second bytes can be
// '\' and ASCII letters) found, shown, added, removed and written whole; the
// files written in the prefix's code page; sizes, dates and times in the
// prefix's regional formats; paths with trailing blanks and dots.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry_hive.h"
#include "support/cli_run.h"
#include "support/demo_prefix.h"
#include "support/test_system.h"

namespace {

namespace fs = std::filesystem;

// The time every file of the prefix copy is given: 2024-03-05 14:07:09 UTC
// (the program runs with TZ=UTC); file times pass through DOS time, which
// counts seconds in twos, so the program shows 14:07:08.
constexpr time_t kFileTime = 1709647629;

struct Check {
  const char* what;
  std::vector<std::string> args;  // "{out}" stands for a file in a fresh folder
  int code = 0;
  // Lines stdout holds; a cell "*" (between tabs) matches any text.
  std::vector<std::string> lines;
  std::string says;                    // text stdout or stderr holds
  std::vector<std::string> fileHolds;  // byte strings the file "{out}" holds
  // Known Packages afterwards ("name=description", load order); unset: not looked at.
  std::optional<std::vector<std::string>> known;
};

struct PrefixChecks {
  const char* prefix;
  std::vector<std::pair<std::string, std::string>> userRegEdits;  // text replaced first
  std::vector<Check> checks;
};

// "{today}": the day the test runs, as dd.MM.yyyy in UTC.
std::string Today() {
  const time_t now = time(nullptr);
  struct tm tm {};
  gmtime_r(&now, &tm);
  char buf[16];
  strftime(buf, sizeof buf, "%d.%m.%Y", &tm);
  return buf;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + 1)
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

bool LineMatches(const std::string& line, const std::string& want) {
  const std::vector<std::string> got = Split(line, '\t'), cells = Split(want, '\t');
  if (got.size() != cells.size()) return false;
  for (size_t i = 0; i < got.size(); ++i) {
    if (cells[i] != "*" && cells[i] != got[i]) return false;
  }
  return true;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

void SetFileTimes(const fs::path& root) {
  const struct timespec times[2] = {{kFileTime, 0}, {kFileTime, 0}};
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      ASSERT_EQ(utimensat(AT_FDCWD, entry.path().c_str(), times, 0), 0) << entry.path();
    }
  }
}

// "name=description" of every Known Packages value, as stored (UTF-8).
std::vector<std::string> KnownPackages(const fs::path& prefix) {
  kx::RegistryAccessor reg(prefix, kx::RootKey::CurrentUser);
  std::vector<std::string> out;
  if (!reg.OpenKey("Software\\Borland\\Delphi\\3.0\\Known Packages", false)) return out;
  for (const kx::RegValue& v : reg.GetValues()) {
    std::string text = kx::Utf16ToUtf8(kx::Utf16LeText(v.data));
    out.push_back(kx::Utf16ToUtf8(v.name) + "=" + text);
  }
  return out;
}

#define RU "C:\\Компоненты\\"
#define RU_DESC "Компоненты отчётов «Ёлка»"
// The same in Windows-1251: К о м п о н е н т ы, о т ч ё т о в, « Ё л к а ».
#define RU_DESC_1251                                              \
  "\xCA\xEE\xEC\xEF\xEE\xED\xE5\xED\xF2\xFB \xEE\xF2\xF7\xB8\xF2" \
  "\xEE\xE2 \xAB\xA8\xEB\xEA\xE0\xBB"
#define ZH "C:\\工具\\"
#define JP "C:\\表示\\"
#define JP_DESC "表示用ソフト部品"
// The same in Shift-JIS: 表 95 5C, 示 8E A6, 用 97 70, ソ 83 5C, フ 83 74,
// ト 83 67, 部 95 94, 品 95 69.
#define JP_DESC_932 "\x95\x5C\x8E\xA6\x97\x70\x83\x5C\x83\x74\x83\x67\x95\x94\x95\x69"
#define NBSP "\u00A0"

const std::vector<PrefixChecks>& Table() {
  static const std::vector<PrefixChecks> table = {
      {"cp1251-prefix",
       {},
       {
           {"the known package in a Cyrillic folder is On with its file facts",
            {"known"},
            0,
            {"rusrep.dpl\tOn\t" RU_DESC "\tDsgn\tNo\tNo\t" RU "\t4" NBSP
             "096\t05.03.2024\t*\t*\t1"},
            "",
            {},
            {}},
           {"find lists it, and the Chinese folder's package",
            {"find", "*.dpl", "--folder", "C:\\"},
            0,
            {"rusrep.dpl\t" RU "\t4" NBSP "096\tDPLDsgn\tNo\tNo\t05.03.2024\t*\t*\t1",
             "x.dpl\t" ZH "\t3" NBSP "584\tDPLDsgn\tNo\tNo\t05.03.2024\t*\t*\t1"},
            "",
            {},
            {}},
           {"info prints the description in UTF-8, sizes and times in the prefix's formats",
            {"info", RU "rusrep.dpl"},
            0,
            {"Description\t" RU_DESC, "File Size\t4" NBSP "096 bytes", "File Date\t05.03.2024",
             "File Time\t14:07:08"},
            "",
            {},
            {}},
           {"the .dpk holds the description in Windows-1251 and dates as dd.MM.yyyy",
            {"dpk", RU "rusrep.dpl", "-o", "{out}"},
            0,
            {},
            "",
            {"{$DESCRIPTION '" RU_DESC_1251 "' }", "//        Date: {today}\r\n"},
            {}},
           {"a .dpk whose description the code page cannot hold says what was lost",
            {"dpk", ZH "x.dpl", "-o", "{out}"},
            0,
            {},
            "工具",
            // Набор: Н CD, а E0, б E1, о EE, р F0.
            {"{$DESCRIPTION '\xCD\xE0\xE1\xEE\xF0 ?" "?' }"},
            {}},
           {"adding the Chinese name warns and keeps the name whole",
            {"known", "add", ZH "x.dpl"},
            0,
            {},
            ZH "x.dpl cannot be written in code page 1251; the IDE will not be able to load it.",
            {},
            std::vector<std::string>{RU "rusrep.dpl=" RU_DESC, ZH "x.dpl=Набор 工具"}},
           {"its row is On with its file facts",
            {"known"},
            0,
            {"x.dpl\tOn\tНабор 工具\tDsgn\tNo\tNo\t" ZH "\t3" NBSP "584\t05.03.2024\t*\t*\t1"},
            "",
            {},
            {}},
           {"known check reports the name the IDE cannot load",
            {"known", "check"},
            1,
            {},
            ZH "x.dpl",
            {},
            {}},
           {"remove by the real name",
            {"known", "remove", ZH "x.dpl"},
            0,
            {},
            "",
            {},
            std::vector<std::string>{RU "rusrep.dpl=" RU_DESC}},
           {"remove the Cyrillic package",
            {"known", "remove", RU "rusrep.dpl"},
            0,
            {},
            "",
            {},
            std::vector<std::string>{}},
           {"and add it again: the hive holds the exact name and description",
            {"known", "add", RU "rusrep.dpl"},
            0,
            {},
            "",
            {},
            std::vector<std::string>{RU "rusrep.dpl=" RU_DESC}},
       }},
      {"cp932-prefix",
       {},
       {
           {"rows of names differing only in a second byte 'A'/'a' keep their own facts",
            {"known"},
            0,
            {"jpdisp.dpl\tOn\t" JP_DESC "\tRun\tNo\tNo\t" JP "\t3,584\t2024/3/5\t*\t*\t1",
             "x.dpl\tOn\tX (ア)\tDsgn\tNo\tNo\tC:\\ア\\\t3,584\t2024/3/5\t*\t*\t1",
             "x.dpl\tOn\tX (ヂ)\tN/A\tN/A\tN/A\tC:\\ヂ\\\tN/A\tN/A\tN/A\tN/A\tN/A"},
            "",
            {},
            {}},
           {"find lists the package in the folder whose name ends in byte 5C",
            {"find", "*.dpl", "--folder", "C:\\表示"},
            0,
            {"jpdisp.dpl\t" JP "\t3,584\tDPLRun\tNo\tNo\t2024/3/5\t*\t*\t1"},
            "",
            {},
            {}},
           {"info decodes the Shift-JIS description of PACKAGEOPTIONS whole",
            {"info", JP "jpdisp.dpl"},
            0,
            {"Description\t" JP_DESC, "File Date\t2024/3/5", "File Time\t14:07:08"},
            "",
            {},
            {}},
           {"the .dpk holds the description in Shift-JIS",
            {"dpk", JP "jpdisp.dpl", "-o", "{out}"},
            0,
            {},
            "",
            {"{$DESCRIPTION '" JP_DESC_932 "' }"},
            {}},
           {"deploy finds the library whose Shift-JIS name holds byte 5C and names it right",
            {"deploy", "--modules", JP "jpapp.exe"},
            0,
            {"表計算.dll\tNon-Package\t\t" JP "\t3,072\tn/a\tNo\tNo",
             "KERNEL32.dll\tNon-Package\t\tC:\\windows\\system32\\\t0\tn/a\tNo\tNo"},
            "",
            {},
            {}},
       }},
      // A path meets the host without the trailing blanks and dots of its
      // components, as on Windows.
      {"demo-prefix",
       {{"\"C:\\\\Projects\\\\Demo\\\\DemoComp.dpl\"=",
         "\"C:\\\\Projects\\\\Demo\\\\DemoComp.dpl \"="}},
       {
           {"a known package value with a trailing blank is On with its file facts",
            {"known"},
            0,
            {"DemoComp.dpl \tOn\tKestrix \"Demo\" Komponenten für Delphi\tDsgn\tNo\tNo\t"
             "C:\\Projects\\Demo\\\t4,096\t3/5/2024\t*\t*\t1"},
            "",
            {},
            {}},
           {"a file named with trailing blanks and dots opens",
            {"info", "C:\\Projects\\Demo. \\DemoComp.dpl. "},
            0,
            {"Description\tKestrix \"Demo\" Komponenten für Delphi", "File Size\t4,096 bytes",
             "File Date\t3/5/2024", "File Time\t2:07:08 PM"},
            "",
            {},
            {}},
       }},
  };
  return table;
}

TEST(CliCodePages, PrefixesOfOtherCodePagesAndRegions) {
  if (!fs::exists(fs::path(KX_FIXTURES_DIR) / "cp932-prefix" / "user.reg"))
    GTEST_SKIP() << "fixtures not built";
  for (const PrefixChecks& p : Table()) {
    kx::test::DemoPrefixCopy prefix(p.prefix);
    SetFileTimes(prefix.Root() / "drive_c");
    std::string userReg = prefix.UserReg();
    for (const auto& [from, to] : p.userRegEdits) {
      ASSERT_NE(userReg.find(from), std::string::npos) << from;
      userReg = Replace(userReg, from, to);
    }
    std::ofstream(prefix.Root() / "user.reg", std::ios::binary | std::ios::trunc) << userReg;

    for (const Check& c : p.checks) {
      SCOPED_TRACE(std::string(p.prefix) + ": " + c.what);
      const fs::path outFile = prefix.Root() / "out" / "written.dpk";
      fs::create_directories(outFile.parent_path());
      std::vector<std::string> args = c.args;
      for (std::string& a : args) a = Replace(a, "{out}", outFile.string());

      const kx::test::CliResult r = kx::test::RunCli(
          fs::temp_directory_path(),
          {{"WINEPREFIX", prefix.Root().string()}, {"TZ", "UTC"}, {"LC_ALL", "C"}}, args);
      EXPECT_EQ(r.code, c.code) << r.err;
      const std::vector<std::string> lines = Split(r.out, '\n');
      for (const std::string& want : c.lines) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return LineMatches(l, want); }))
            << "no line " << want << "\nin:\n"
            << r.out;
      }
      if (!c.says.empty()) {
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
      }
      if (!c.fileHolds.empty()) {
        const std::string written = kx::test::ReadHostText(outFile);
        for (const std::string& want : c.fileHolds)
          EXPECT_NE(written.find(Replace(want, "{today}", Today())), std::string::npos)
              << want << "\nin:\n"
              << written;
      }
      if (c.known) {
        EXPECT_EQ(KnownPackages(prefix.Root()), *c.known);
      }
    }
  }
}

}  // namespace
