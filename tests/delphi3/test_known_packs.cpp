// The known packages list and its editing, on private prefixes and on a
// copy of the demo prefix: statuses and counters, the meter, the button
// rules, Add/Remove/Up/Down with their registry effects, and the
// load-order check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "delphi3/D3_Reg.h"
#include "delphi3/KnownPacks.h"
#include "package/PackMan.h"
#include "support/demo_prefix.h"
#include "support/nls_builder.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// Records what the list asks and shows; answers Yes.
class Recorder : public Prompts, public ProgressMeter {
 public:
  PromptResult WarningOkCancel(const std::string& t) override {
    return Note("OkCancel", t), PromptResult::Ok;
  }
  PromptResult WarningYesNo(const std::string& t) override {
    return Note("YesNo", t), PromptResult::Yes;
  }
  void Message(const std::string& t) override { Note("Message", t); }
  void Error(const std::string& t) override { Note("Error", t); }
  std::optional<std::string> OpenFile(const FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SelectFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void SetLabel(const std::string& t) override { Note("Label", t); }
  void SetTotal(int) override {}
  void SetCompleted(int c) override { completed.push_back(c); }
  void Show() override { Note("Show", ""); }
  void Hide() override { Note("Hide", ""); }
  void Note(const std::string& kind, const std::string& text) { said.push_back(kind + ":" + text); }
  Names said;
  std::vector<int> completed;
};

struct ListUnderTest {
  ListUnderTest() { store.ReadFromRegistry(); }
  KnownPackStore store;
  Recorder rec;
  TKnownPackList list{
      store.Lists(), rec, [this](const std::string& t) { rec.Note("Warning", t); }, rec, {}};
  Names Column(int c) const {
    Names out;
    for (const auto& r : list.Rows) out.push_back(r[c]);
    return out;
  }
};

const char kD3Key[] = "[Software\\\\Borland\\\\Delphi\\\\3.0";

std::string UserReg(const std::string& known, const std::string& disabled) {
  std::string t =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
      "#arch=win32\n\n" +
      std::string(kD3Key) + "] 1\n\n";
  if (!known.empty()) t += std::string(kD3Key) + "\\\\Known Packages] 1\n" + known + "\n";
  if (!disabled.empty()) t += std::string(kD3Key) + "\\\\Disabled Packages] 1\n" + disabled;
  return t;
}

std::string Value(const std::string& path, const std::string& desc = "d") {
  std::string escaped;
  for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\"" + escaped + "\"=\"" + desc + "\"\n";
}

TEST(KnownPackList, StatusesAndCounters) {
  struct Case {
    const char* name;
    Names known, disabled, files;
    Names statuses;  // rows in order
    int on, off, lost;
  } cases[] = {
      {"deleted On package", {"C:\\P\\a.dpl"}, {}, {}, {"On"}, 1, 0, 0},
      {"Off", {"C:\\P\\a.dpl"}, {"C:\\P\\a.dpl"}, {"C:\\P\\a.dpl"}, {"Off"}, 0, 1, 0},
      {"Lost", {"C:\\P\\a.dpl"}, {"C:\\P\\a.dpl"}, {}, {"Lost"}, 0, 0, 1},
      {"disabled only, file or not",
       {"C:\\P\\a.dpl"},
       {"C:\\P\\x.dpl", "C:\\P\\y.dpl"},
       {"C:\\P\\x.dpl"},
       {"On", "Lost", "Lost"},
       1,
       0,
       2},
      {"letter case", {"C:\\P\\A.DPL"}, {"c:\\p\\a.dpl"}, {"C:\\P\\a.dpl"}, {"Off"}, 0, 1, 0},
      {"one of each",
       {"C:\\P\\a.dpl", "C:\\P\\b.dpl", "C:\\P\\c.dpl"},
       {"C:\\P\\b.dpl", "C:\\P\\c.dpl"},
       {"C:\\P\\b.dpl"},
       {"On", "Off", "Lost"},
       1,
       1,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempPrefix prefix;
    std::string known, disabled;
    for (const auto& k : c.known) known += Value(k, "known");
    for (const auto& d : c.disabled) disabled += Value(d, "disabled " + d.substr(5));
    std::ofstream(prefix.Root() / "user.reg", std::ios::binary) << UserReg(known, disabled);
    for (const auto& f : c.files) prefix.WriteText(f, "not a package");
    ListUnderTest t;
    t.list.InitSystemInfo();
    EXPECT_EQ(t.Column(kcStatus), c.statuses);
    EXPECT_EQ(t.store.OnPackCount, c.on);
    EXPECT_EQ(t.store.OffPackCount, c.off);
    EXPECT_EQ(t.store.LostPackCount, c.lost);
    for (size_t i = 0; i < t.list.Rows.size(); ++i) {
      const auto& row = t.list.Rows[i];
      // Not packages or missing: N/A from Type on, except the Location.
      EXPECT_EQ(row[kcType], "N/A");
      EXPECT_EQ(row[kcLocation], "C:\\P\\");
      EXPECT_EQ(row[11], "N/A");
      // Disabled-only rows carry the description from "Disabled Packages".
      if (i >= c.known.size()) {
        EXPECT_EQ(row[kcDescription].substr(0, 8), "disabled");
      }
    }
  }
}

TEST(KnownPackList, MeterStepsAndButtonRules) {
  test::TempPrefix prefix;
  std::string known;
  for (int i = 0; i < 16; ++i) known += Value("C:\\P\\p" + std::to_string(i) + ".dpl");
  // p1 is Off, p5 Lost in the middle of the key (its file is gone), and
  // gone.dpl is listed only as disabled.
  std::ofstream(prefix.Root() / "user.reg", std::ios::binary)
      << UserReg(known, Value("C:\\P\\p1.dpl") + Value("C:\\P\\p5.dpl") + Value("C:\\P\\gone.dpl"));
  prefix.WriteText("C:\\P\\p1.dpl", "x");
  ListUnderTest t;
  t.list.InitSystemInfo();  // 17 entries: step 17 div 8 + 1 = 3
  EXPECT_EQ(t.rec.completed, (std::vector<int>{0, 0, 3, 6, 9, 12, 15, 0}));
  ASSERT_EQ(t.list.Rows.size(), 17u);
  EXPECT_EQ(t.store.OnPackCount + t.store.OffPackCount, 15);
  EXPECT_EQ(t.store.KnownKeyCount, 16);

  struct Rule {
    int row;
    bool load, find, up, down;
  } rules[] = {
      {-1, false, false, false, false},  // nothing selected
      {0, true, false, false, true},     // first: no Up
      {1, true, false, true, true},      // an Off row moves like an On row
      {4, true, false, true, true},      // moves past the Lost row below it
      {5, false, true, false, false},    // Lost, in the key
      {14, true, false, true, true},     // a Lost row above does not shorten the key
      {15, true, false, true, false},    // last value of the key: no Down
      {16, false, true, false, false},   // Lost, disabled only
  };
  for (const Rule& r : rules) {
    SCOPED_TRACE(r.row);
    t.list.Selected = r.row;
    const KnownPackButtons b = t.list.Buttons();
    EXPECT_EQ(b.load, r.load);
    EXPECT_EQ(b.remove, r.row >= 0);
    EXPECT_EQ(b.find, r.find);
    EXPECT_EQ(b.up, r.up);
    EXPECT_EQ(b.down, r.down);
    EXPECT_TRUE(b.add && b.test);
  }
}

// Makes the hive file a link to a file whose name leaves no room for the
// temporary file a write needs beside it: every write fails, also for root,
// while reads go on. Undone when it goes out of scope.
class UnwritableHive {
 public:
  explicit UnwritableHive(const fs::path& hive)
      : hive_(hive), real_(hive.parent_path() / std::string(250, 'h')) {
    fs::rename(hive_, real_);
    fs::create_symlink(real_, hive_);
  }
  ~UnwritableHive() {
    fs::remove(hive_);
    fs::rename(real_, hive_);
  }

 private:
  fs::path hive_, real_;
};

// Two packages whose names differ only outside the code page (C:\开发\x.dpl,
// C:\工具\x.dpl; the second also disabled, its file missing), and C:\P\a.dpl:
// each is a row of its own, every operation acts on exactly the selected
// one, a failed write keeps the row, and the counters follow the rows.
TEST(KnownPackList, LookAlikeNamesFailedWritesAndCounters) {
  test::TempPrefix prefix;
  const std::u16string kai = u"C:\\\u5f00\u53d1\\x.dpl", gong = u"C:\\\u5de5\u5177\\x.dpl";
  std::ofstream(prefix.Root() / "user.reg", std::ios::binary)
      << UserReg(R"("C:\\\x5f00\x53d1\\x.dpl"="first")"
                 "\n"
                 R"("C:\\\x5de5\x5177\\x.dpl"="second")"
                 "\n" +
                     Value("C:\\P\\a.dpl", "a"),
                 R"("C:\\\x5de5\x5177\\x.dpl"="second")"
                 "\n");
  prefix.WriteText("C:\\P\\a.dpl", "not a package");
  auto stored = [](std::vector<std::u16string>* disabled = nullptr) {
    Names n, d;
    std::vector<std::u16string> s;
    ReadKnownPackages(n, d, &s);
    if (disabled) ReadDisabledPackages(n, d, disabled);
    return s;
  };
  ListUnderTest t;
  t.list.InitSystemInfo();
  EXPECT_EQ(t.Column(kcStatus), (Names{"On", "Lost", "On"}));
  EXPECT_EQ(t.Column(kcDescription), (Names{"first", "second", "a"}));
  EXPECT_EQ(t.list.CellText(1, kcLocation), u"C:\\\u5de5\u5177\\");
  EXPECT_EQ(t.list.CellText(1, kcName), u"x.dpl");
  EXPECT_EQ(t.list.FindRow(gong), 1);
  EXPECT_EQ(std::tuple(t.store.OnPackCount, t.store.OffPackCount, t.store.LostPackCount),
            std::tuple(2, 0, 1));

  // A hive that cannot be written: the error is shown, nothing changes.
  const std::string before = test::ReadHostText(prefix.Root() / "user.reg");
  {
    UnwritableHive unwritable(prefix.Root() / "user.reg");
    EXPECT_FALSE(t.list.RemoveKnownPackage(1));
    EXPECT_EQ(t.rec.said.back().rfind("Error:Cannot create a temporary file", 0), 0u)
        << t.rec.said.back();
    t.list.Selected = 0;
    EXPECT_THROW(t.list.MoveKnownPackage(false), ERegistryException);
  }
  EXPECT_EQ(test::ReadHostText(prefix.Root() / "user.reg"), before);
  EXPECT_EQ(t.list.Rows.size(), 3u);

  // Down on the first row swaps exactly the two look-alikes.
  t.list.Selected = 0;
  ASSERT_TRUE(t.list.MoveKnownPackage(false));
  EXPECT_EQ(stored(), (std::vector<std::u16string>{gong, kai, u"C:\\P\\a.dpl"}));
  EXPECT_EQ(t.Column(kcDescription), (Names{"second", "first", "a"}));
  Names n, d;
  ReadKnownPackages(n, d);
  EXPECT_EQ(d, (Names{"second", "first", "a"}));

  // Removing the On one leaves the disabled one in both keys; removing the
  // Lost one takes it from both keys in one change.
  ASSERT_TRUE(t.list.RemoveKnownPackage(t.list.FindRow(kai)));
  std::vector<std::u16string> disabled;
  EXPECT_EQ(stored(&disabled), (std::vector<std::u16string>{gong, u"C:\\P\\a.dpl"}));
  EXPECT_EQ(disabled, std::vector<std::u16string>{gong});
  ASSERT_TRUE(t.list.RemoveKnownPackage(t.list.FindRow(gong)));
  EXPECT_EQ(stored(&disabled), std::vector<std::u16string>{u"C:\\P\\a.dpl"});
  EXPECT_TRUE(disabled.empty());
  EXPECT_EQ(t.store.KnownPackNames, Names{"C:\\P\\a.dpl"});

  // A .dpl without package information is added as an On row with "N/A"
  // cells, and counts: the next one goes after it.
  test::PeSpec plain;
  test::WriteBytes(prefix.Host("C:\\P\\plain.dpl"), test::BuildPe(plain));
  test::WriteBytes(prefix.Host("C:\\P\\next.dpl"), test::BuildPe(plain));
  ASSERT_TRUE(t.list.AddKnownPackage("C:\\P\\plain.dpl"));
  ASSERT_TRUE(t.list.AddKnownPackage("C:\\P\\next.dpl"));
  EXPECT_EQ(t.list.Rows[1][kcType], "N/A");
  EXPECT_EQ(t.Column(kcName), (Names{"a.dpl", "plain.dpl", "next.dpl"}));
  EXPECT_EQ(std::tuple(t.store.OnPackCount, t.store.OffPackCount, t.store.LostPackCount),
            std::tuple(3, 0, 0));
}

// Names are kept whole whatever the code page; one the system code page
// cannot hold is added and kept, with a warning that the IDE (an ANSI
// program) cannot load it, and the load-order check reports it.
TEST(KnownPackList, NamesTheCodePageCannotHold) {
  test::TempPrefix prefix;
  Sys().SetAnsiCodePage(test::ChartPage(1251));
  std::ofstream(prefix.Root() / "user.reg", std::ios::binary)
      << UserReg(Value("C:\\P\\a.dpl", "a"), "");
  test::WriteBytes(prefix.Host("C:\\P\\a.dpl"), test::BuildPe(test::PeSpec{}));
  const struct {
    std::string path;
    bool loadable;
  } kPackages[] = {
      {"C:\\\u041A\u043E\u043C\u043F\u043E\u043D\u0435\u043D\u0442\u044B\\a.dpl", true},
      {"C:\\\u5DE5\u5177\\x.dpl", false},
  };
  ListUnderTest t;
  t.list.InitSystemInfo();
  Names paths{"C:\\P\\a.dpl"};
  for (const auto& p : kPackages) {
    test::WriteBytes(prefix.Host(p.path), test::BuildPe(test::PeSpec{}));
    ASSERT_TRUE(t.list.AddKnownPackage(p.path)) << p.path;
    const std::string warning =
        p.path + " cannot be written in code page 1251; the IDE will not be able to load it.";
    EXPECT_EQ(t.rec.said.size() >= 2 && t.rec.said[t.rec.said.size() - 2] == "Warning:" + warning,
              !p.loadable);
    EXPECT_EQ(t.rec.said.back(), std::string("Warning:") + kNextStartMsg);
    paths.push_back(p.path);
  }
  // The hive holds the exact names, and the rows show them.
  Names n, d;
  std::vector<std::u16string> stored;
  ReadKnownPackages(n, d, &stored);
  EXPECT_EQ(stored, (std::vector<std::u16string>{Utf8ToUtf16(paths[0]), Utf8ToUtf16(paths[1]),
                                                 Utf8ToUtf16(paths[2])}));
  EXPECT_EQ(t.list.CellText(2, kcLocation), u"C:\\\u5DE5\u5177\\");
  EXPECT_EQ(t.Column(kcStatus), (Names{"On", "On", "On"}));
  const auto findings =
      CheckLoadOrder(paths, {psOn, psOn, psOn}, "", [](const std::string&) { return Names{}; });
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].package, paths[2]);
  EXPECT_EQ(
      findings[0].text,
      paths[2] + " cannot be written in code page 1251; the IDE will not be able to load it.");
}

// A copy of the demo prefix as the current system.
class DemoPrefix : public ::testing::Test {
 protected:
  std::string Reg() const { return demo_.UserReg(); }
  static Names Known() {
    Names n, d;
    ReadKnownPackages(n, d);
    return n;
  }
  static Names Disabled() {
    Names n, d;
    ReadDisabledPackages(n, d);
    return n;
  }
  test::DemoPrefixCopy demo_;
  const fs::path& root_ = demo_.Root();
};

const std::string kStd = "C:\\Program Files\\Borland\\Delphi 3\\Bin\\dclstd30.dpl";
const std::string kSmp = "C:\\Program Files\\Borland\\Delphi 3\\Bin\\dclsmp30.dpl";
const std::string kQrt = "C:\\Program Files\\Borland\\Delphi 3\\Bin\\dclqrt30.dpl";
const std::string kDemo = "C:\\Projects\\Demo\\DemoComp.dpl";
const std::string kOld = "C:\\Projects\\Old\\oldcomp30.dpl";

TEST_F(DemoPrefix, AddRemoveAndTheirRegistryEffects) {
  ListUnderTest t;
  t.list.InitSystemInfo();
  EXPECT_EQ(t.Column(kcStatus), (Names{"On", "Off", "On", "On", "Lost"}));
  EXPECT_EQ(t.list.Rows[0][kcType], "Dsgn");
  EXPECT_EQ(t.list.Rows[0][4], "Yes");

  // Already registered, in another letter case: nothing changes.
  const std::string before = Reg();
  EXPECT_FALSE(t.list.AddKnownPackage("c:\\projects\\demo\\democomp.DPL"));
  EXPECT_EQ(t.rec.said.back(), std::string("Warning:") + kPackageExistsMsg);
  EXPECT_EQ(Reg(), before);

  // A new package: last value of the key, shown after its last row.
  const std::string fresh = "C:\\Projects\\Demo\\Fresh.dpl";
  fs::copy_file(root_ / "drive_c/Projects/Demo/DemoComp.dpl",
                root_ / "drive_c/Projects/Demo/Fresh.dpl");
  ASSERT_TRUE(t.list.AddKnownPackage(fresh));
  EXPECT_EQ(t.rec.said.back(), std::string("Warning:") + kNextStartMsg);
  EXPECT_EQ(Known().back(), fresh);
  EXPECT_EQ(t.list.RowPath(4), fresh);
  EXPECT_EQ(t.store.OnPackCount, 4);
  EXPECT_NE(Reg().find("\"C:\\\\Projects\\\\Demo\\\\Fresh.dpl\"=\"Kestrix \\\"Demo\\\" Komponenten "
                       "f\\xfcr Delphi\""),
            std::string::npos);
  // A file that cannot be loaded is not registered.
  EXPECT_FALSE(t.list.AddKnownPackage("C:\\Projects\\Demo\\DemoComp.dpk"));
  EXPECT_EQ(t.rec.said.back(), std::string("Error:") + kNoPackageAddedMsg);

  // Off: both keys, OffPackCount. On: Known Packages only. Lost and
  // disabled-only: Disabled Packages only.
  t.list.RemoveKnownPackage(t.list.FindRow(kSmp));
  EXPECT_EQ(t.store.OffPackCount, 0);
  EXPECT_EQ(Disabled(), Names{kOld});
  t.list.RemoveKnownPackage(t.list.FindRow(kStd));
  EXPECT_EQ(t.store.OnPackCount, 3);
  EXPECT_EQ(Disabled(), Names{kOld});
  t.list.RemoveKnownPackage(t.list.FindRow(kOld));
  EXPECT_EQ(t.store.LostPackCount, 0);
  EXPECT_TRUE(Disabled().empty());
  EXPECT_EQ(Known(), (Names{kQrt, kDemo, fresh}));
  EXPECT_EQ(t.store.KnownPackNames, Known());
  EXPECT_EQ(t.store.KnownPackDescriptions.size(), t.store.KnownPackNames.size());

  // Without the "Known Packages" key nothing can be registered: an error,
  // not a row that the registry does not hold.
  std::string reg = Reg();
  const size_t at = reg.find("[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Known Packages]");
  ASSERT_NE(at, std::string::npos);
  reg.erase(at, reg.find("\n\n", at) + 2 - at);
  std::ofstream(root_ / "user.reg", std::ios::binary | std::ios::trunc) << reg;
  const size_t rows = t.list.Rows.size();
  EXPECT_FALSE(t.list.AddKnownPackage(kStd));
  EXPECT_EQ(t.rec.said.back(), std::string("Error:") + kNoPackageAddedMsg);
  EXPECT_EQ(Reg(), reg);
  EXPECT_EQ(t.list.Rows.size(), rows);
}

TEST_F(DemoPrefix, UpAndDownSwapByPath) {
  ListUnderTest t;
  t.list.InitSystemInfo();
  Names names, descriptions;
  ReadKnownPackages(names, descriptions);
  t.list.Selected = 1;
  ASSERT_TRUE(t.list.MoveKnownPackage(true));
  Names after, afterDesc;
  ReadKnownPackages(after, afterDesc);
  EXPECT_EQ(after, (Names{kSmp, kStd, kQrt, kDemo}));
  EXPECT_EQ(afterDesc, (Names{descriptions[1], descriptions[0], descriptions[2], descriptions[3]}));
  EXPECT_EQ(t.list.Selected, 0);
  EXPECT_EQ(t.list.RowPath(0), kSmp);
  EXPECT_EQ(t.list.Rows[0][kcStatus], "Off");
  EXPECT_EQ(t.store.KnownPackStatus[0], psOff);
  EXPECT_EQ(t.store.KnownPackNames.back(), kOld);  // disabled-only entry kept last

  // The lower neighbour is listed only under "Disabled Packages".
  const std::string before = Reg();
  t.list.Selected = 3;
  try {
    t.list.MoveKnownPackage(false);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "");
  }
  EXPECT_EQ(Reg(), before);
  EXPECT_EQ(t.list.RowPath(3), kDemo);
  t.list.Selected = 0;
  EXPECT_FALSE(t.list.MoveKnownPackage(true));  // no upper neighbour
}

// After every Add, Up and Down the rows of "Known Packages" stand in the
// key's order (the IDE's load order), followed by the disabled-only row,
// and the in-memory lists agree with both.
TEST_F(DemoPrefix, AddUpAndDownKeepListAndKeyInOneOrder) {
  const std::string a = "C:\\Projects\\Demo\\NewA.dpl", b = "C:\\Projects\\Demo\\NewB.dpl";
  for (const char* name : {"NewA.dpl", "NewB.dpl"})
    fs::copy_file(root_ / "drive_c/Projects/Demo/DemoComp.dpl",
                  root_ / "drive_c/Projects/Demo" / name);
  enum Action { kAdd, kUp, kDown };
  struct Step {
    Action action;
    std::string path;
    bool done;  // whether the action takes place (the button is enabled)
    Names key;  // "Known Packages" afterwards
  } steps[] = {
      {kAdd, a, true, {kStd, kSmp, kQrt, kDemo, a}},
      {kUp, a, true, {kStd, kSmp, kQrt, a, kDemo}},
      {kUp, a, true, {kStd, kSmp, a, kQrt, kDemo}},
      {kDown, kSmp, true, {kStd, a, kSmp, kQrt, kDemo}},    // Off moves too
      {kDown, kDemo, false, {kStd, a, kSmp, kQrt, kDemo}},  // below it: disabled only
      {kUp, kQrt, true, {kStd, a, kQrt, kSmp, kDemo}},      // On, its file missing
      {kAdd, b, true, {kStd, a, kQrt, kSmp, kDemo, b}},
      {kUp, kOld, false, {kStd, a, kQrt, kSmp, kDemo, b}},  // Lost: never moves
      {kDown, kStd, true, {a, kStd, kQrt, kSmp, kDemo, b}},
  };
  ListUnderTest t;
  t.list.InitSystemInfo();
  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE(i);
    if (s.action == kAdd) {
      EXPECT_EQ(t.list.AddKnownPackage(s.path), s.done);
    } else {
      t.list.Selected = t.list.FindRow(s.path);
      ASSERT_GE(t.list.Selected, 0);
      const KnownPackButtons buttons = t.list.Buttons();
      EXPECT_EQ(s.action == kUp ? buttons.up : buttons.down, s.done);
      if (s.done) {
        ASSERT_TRUE(t.list.MoveKnownPackage(s.action == kUp));
      }
    }
    EXPECT_EQ(Known(), s.key);
    Names rows = s.key;
    rows.push_back(kOld);
    Names shown;
    for (int r = 0; r < static_cast<int>(t.list.Rows.size()); ++r)
      shown.push_back(t.list.RowPath(r));
    EXPECT_EQ(shown, rows);
    EXPECT_EQ(t.store.KnownPackNames, rows);
    EXPECT_EQ(t.store.KnownKeyCount, static_cast<int>(s.key.size()));
    Names names, descriptions;
    ReadKnownPackages(names, descriptions);
    for (size_t k = 0; k < s.key.size(); ++k)
      EXPECT_EQ(t.list.Rows[k][kcDescription], descriptions[k]) << k;
  }
}

TEST_F(DemoPrefix, TestWalkReportsTheLostFileOnce) {
  ListUnderTest t;
  t.list.InitSystemInfo();
  t.rec.said.clear();
  const auto findings = t.list.TestKnownPackBtnClick();
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].package, kQrt);
  EXPECT_EQ(t.rec.said, (Names{"Label:Checking Load Order Dependencies...",
                               "Show:", "Hide:", "Message:" + findings[0].text}));
}

TEST(LoadOrderCheck, LaterDisabledAndMissingRequirements) {
  test::TempPrefix prefix;
  std::ofstream(prefix.Root() / "user.reg", std::ios::binary)
      << "WINE REGISTRY Version 2\n\n" + std::string(kD3Key) + "\\\\Library] 1\n" +
             "\"SearchPath\"=\"C:\\\\Libs\"\n";
  // onpath and syslate lie in the system folder, where the loader finds
  // them; liblate only in a library folder, which the loader does not
  // search even though the tool's own PATH has it.
  const auto package = test::BuildPe(test::PackageSpec(pfRunOnly, {}, {{0x10, "P"}}));
  for (const char* f : {"C:\\windows\\system32\\onpath.dpl", "C:\\windows\\system32\\syslate.dpl",
                        "C:\\Libs\\liblate.dpl"})
    test::WriteBytes(prefix.Host(f), package);
  Sys().Env().Set("PATH", "C:\\windows\\system32;C:\\windows;C:\\Libs");
  const Names names = {"C:\\P\\early.dpl",     "C:\\P\\first.dpl",
                       "C:\\P\\off.dpl",       "C:\\P\\late.dpl",
                       "C:\\P\\BPL.bpl",       "C:\\windows\\system32\\syslate.dpl",
                       "C:\\Libs\\liblate.dpl"};
  for (size_t i = 0; i < 5; ++i) prefix.WriteText(names[i], "");
  const std::vector<int> statuses = {psOn, psOn, psOff, psOn, psOn, psOn, psOn};
  std::map<std::string, Names> requires_ = {
      {names[0], {}},
      {names[1], {"early", "late", "OFF", "onpath", "nowhere", "first", "syslate", "liblate"}},
      {names[2], {"nowhere"}},  // disabled: not loaded, not checked
      {names[3], {"early"}},    // damaged
      {names[4], {"onpath"}},   // a .bpl looks for onpath.bpl
      {names[5], {}},
      {names[6], {"syslate"}},  // loaded before it, and in the system folder
  };
  const auto findings = CheckLoadOrder(names, statuses, "C:\\windows\\system32;C:\\windows",
                                       [&](const std::string& p) {
                                         if (p == names[3]) throw ELoadPackage("damaged");
                                         return requires_.at(p);
                                       });
  Names texts;
  for (const auto& f : findings) texts.push_back(f.text);
  EXPECT_EQ(texts, (Names{
                       "\"C:\\P\\first.dpl\" requires \"late\", which comes later in the load "
                       "order (\"C:\\P\\late.dpl\").",
                       "\"C:\\P\\first.dpl\" requires \"OFF\", which is disabled "
                       "(\"C:\\P\\off.dpl\").",
                       "\"C:\\P\\first.dpl\" requires \"nowhere\", which the loader cannot find.",
                       "\"C:\\P\\first.dpl\" requires \"liblate\", which comes later in the load "
                       "order (\"C:\\Libs\\liblate.dpl\").",
                       "\"C:\\P\\late.dpl\": its package information cannot be read (damaged).",
                       "\"C:\\P\\BPL.bpl\" requires \"onpath\", which the loader cannot find.",
                   }));
}

// A required package counts as found where the IDE's loader finds it: its
// Bin folder under RootDir, the system folder, the 16-bit system folder, the
// Windows folder and PATH as the tool found it; not along the library
// search path or the tool's extended PATH, not in the tool's current
// folder, nor because the tool itself has loaded it by full path.
TEST(LoadOrderCheck, ResolvesAsTheIdesLoader) {
  test::TempPrefix prefix;
  std::ofstream(prefix.Root() / "user.reg", std::ios::binary)
      << "WINE REGISTRY Version 2\n\n" + std::string(kD3Key) + "] 1\n\"RootDir\"=\"C:\\\\D3\"\n\n" +
             kD3Key + "\\\\Library] 1\n\"SearchPath\"=\"$(DELPHI)\\\\Lib;C:\\\\Libs\"\n";
  const auto package = test::BuildPe(test::PackageSpec(pfRunOnly, {}, {{0x10, "P"}}));
  struct Place {
    const char* file;
    bool found;
  } places[] = {
      {"C:\\D3\\Bin\\inbin.dpl", true},
      {"C:\\windows\\system32\\sys.dpl", true},
      {"C:\\windows\\system\\sys16.dpl", true},
      {"C:\\windows\\win.dpl", true},
      {"C:\\OnPath\\onpath.dpl", true},
      {"C:\\D3\\Lib\\inlib.dpl", false},
      {"C:\\Libs\\libs.dpl", false},
      {"C:\\Work\\incwd.dpl", false},
      {"C:\\Elsewhere\\loaded.dpl", false},
  };
  Names required;
  for (const Place& p : places) {
    test::WriteBytes(prefix.Host(p.file), package);
    const std::string name = p.file;
    required.push_back(name.substr(name.rfind('\\') + 1, name.rfind('.') - name.rfind('\\') - 1));
  }
  // The tool's own PATH carries the library search path; the IDE's does not.
  Sys().Env().Set("PATH", "C:\\OnPath;C:\\D3\\Lib;C:\\Libs");
  Sys().SetCurrentDirectory("C:\\Work");
  const HMODULE loaded = Sys().Proc().LoadLibrary("C:\\Elsewhere\\loaded.dpl");
  ASSERT_NE(loaded, 0u);
  prefix.WriteText("C:\\P\\top.dpl", "");
  const auto findings = CheckLoadOrder({"C:\\P\\top.dpl"}, {psOn}, "C:\\OnPath",
                                       [&](const std::string&) { return required; });
  Names missing, expected;
  for (const auto& f : findings) missing.push_back(f.text);
  for (size_t i = 0; i < required.size(); ++i)
    if (!places[i].found)
      expected.push_back("\"C:\\P\\top.dpl\" requires \"" + required[i] +
                         "\", which the loader cannot find.");
  EXPECT_EQ(missing, expected);
  Sys().Proc().FreeLibrary(loaded);
}

}  // namespace
}  // namespace kx
