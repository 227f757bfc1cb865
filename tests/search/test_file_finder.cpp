// The recursive file finder: order of folders and files, stop at the first
// folder with a match, abort, counters, and the guards for a drive that maps
// the whole host disk (link loops, pseudo file systems, unreadable folders).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "search/FileFinder.h"
#include "search/ModuleSearch.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::TempPrefix;
using Strings = std::vector<std::string>;

// Runs a finder and records its events as one log line each.
struct Recorder {
  TFileFinder finder;
  Strings log;
  explicit Recorder(Strings roots, std::string mask = "*.dpl") {
    finder.Roots = std::move(roots);
    finder.Mask = std::move(mask);
    finder.OnBeforeExecute = [this] { log.push_back("begin"); };
    finder.OnNewPath = [this](const std::string& folder, bool&) { log.push_back("dir " + folder); };
    finder.OnAddFile = [this](const TFoundFile& f, bool&) { log.push_back("file " + f.fileName); };
    finder.OnEndSearch = [this] { log.push_back("end"); };
  }
  Strings Run() {
    log.clear();
    EXPECT_TRUE(finder.Execute());
    return log;
  }
};

// C:\t with files in several folders and letter cases.
struct Tree {
  TempPrefix prefix;
  Tree() {
    for (const char* f :
         {"C:\\t\\Zeta.DPL", "C:\\t\\alpha.dpl", "C:\\t\\readme.txt", "C:\\t\\b\\one.Dpl",
          "C:\\t\\a\\x\\deep.dpl", "C:\\t\\a\\NOEXT", "C:\\u\\two.dpl"})
      prefix.WriteText(f, "12345");
    fs::create_directories(prefix.Host("C:\\t\\a\\dir.dpl"));  // a folder is never reported
  }
};

TEST(FileFinder, SearchesRootsInOrderBreadthFirstWithFilesAfterSubfolderQueueing) {
  Tree tree;
  Recorder rec({"C:\\t", "", "c:\\U\\"});
  EXPECT_EQ(rec.Run(),
            (Strings{"begin", "dir C:\\t\\", "file C:\\t\\alpha.dpl", "file C:\\t\\Zeta.DPL",
                     "dir C:\\t\\a\\", "dir C:\\t\\b\\", "file C:\\t\\b\\one.Dpl",
                     "dir C:\\t\\a\\dir.dpl\\", "dir C:\\t\\a\\x\\", "file C:\\t\\a\\x\\deep.dpl",
                     "dir c:\\U\\", "file c:\\U\\two.dpl", "end"}));
  EXPECT_EQ(rec.finder.FilesFound(), 5u);
  EXPECT_EQ(rec.finder.TotalSize(), 25u);
  EXPECT_FALSE(rec.finder.Stopped());

  // Without recursion only the roots themselves; "*.*" also takes names without a dot.
  rec.finder.Recurse = false;
  rec.finder.Roots = {"C:\\t\\a"};
  rec.finder.Mask = "*.*";
  EXPECT_EQ(rec.Run(), (Strings{"begin", "dir C:\\t\\a\\", "file C:\\t\\a\\NOEXT", "end"}));
}

TEST(FileFinder, StopsAfterTheFirstFolderWithAMatchOrWhenToldTo) {
  Tree tree;
  struct Case {
    const char* name;
    std::function<void(Recorder&)> setup;
    Strings results;
  };
  const Case cases[] = {
      {"stop at first: every match of that folder, nothing after",
       [](Recorder& r) { r.finder.StopAtFirst = true; },
       {"C:\\t\\alpha.dpl", "C:\\t\\Zeta.DPL"}},
      {"a rejected file does not count as a match",
       [](Recorder& r) {
         r.finder.StopAtFirst = true;
         r.finder.OnAddFile = [](const TFoundFile& f, bool& accept) {
           accept = f.fileName.find("\\t\\b\\") != std::string::npos;
         };
       },
       {"C:\\t\\b\\one.Dpl"}},
      {"abort from a handler ends the folder at once",
       [](Recorder& r) {
         r.finder.OnAddFile = [&r](const TFoundFile&, bool&) { r.finder.Abort(); };
       },
       {"C:\\t\\alpha.dpl"}},
      {"new-path may stop before the folder is searched",
       [](Recorder& r) {
         r.finder.OnNewPath = [](const std::string& folder, bool& stop) {
           stop = folder == "C:\\t\\b\\";
         };
       },
       {"C:\\t\\alpha.dpl", "C:\\t\\Zeta.DPL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder rec({"C:\\t\\", "C:\\u\\"});
    c.setup(rec);
    const Strings log = rec.Run();
    EXPECT_EQ(rec.finder.Results(), c.results);
    EXPECT_EQ(rec.finder.FilesFound(), c.results.size());
    EXPECT_TRUE(rec.finder.Stopped());
    EXPECT_EQ(log.back(), "end");
  }
  // Counters and results start afresh with every run.
  Recorder rec({"C:\\u"});
  rec.Run();
  rec.Run();
  EXPECT_EQ(rec.finder.Results(), Strings{"C:\\u\\two.dpl"});
  EXPECT_EQ(rec.finder.TotalSize(), 5u);
}

TEST(FileFinder, VisitsEachHostFolderOnceAndNeverEntersPseudoFileSystems) {
  Tree tree;
  const fs::path t = tree.prefix.Host("C:\\t");
  fs::create_directory_symlink(t, t / "a" / "x" / "loop");  // back to the root
  fs::create_directory_symlink(t / "b", t / "bee");         // the same folder twice
  fs::create_directory_symlink("/proc", t / "proc");        // kernel pseudo file system
  fs::create_symlink(t / "missing", t / "broken.dpl");      // leads nowhere
  fs::create_symlink(t / "b" / "one.Dpl", t / "link.dpl");  // a link to a file is a file
  Recorder rec({"C:\\t"});
  const Strings log = rec.Run();
  EXPECT_EQ(log, (Strings{"begin", "dir C:\\t\\", "file C:\\t\\alpha.dpl", "file C:\\t\\link.dpl",
                          "file C:\\t\\Zeta.DPL", "dir C:\\t\\a\\", "dir C:\\t\\b\\",
                          "file C:\\t\\b\\one.Dpl", "dir C:\\t\\a\\dir.dpl\\", "dir C:\\t\\a\\x\\",
                          "file C:\\t\\a\\x\\deep.dpl", "end"}));

  if (fs::exists("/proc/self")) {
    EXPECT_TRUE(IsPseudoFileSystem("/proc"));
    EXPECT_TRUE(IsPseudoFileSystem("/proc/self"));
    // A drive mapped onto /proc is never entered either.
    tree.prefix.System().Drives().Map('P', "/proc");
    Recorder proc({"P:\\"}, "*");
    EXPECT_EQ(proc.Run(), (Strings{"begin", "end"}));
  }
  EXPECT_FALSE(IsPseudoFileSystem(t));

  // A folder that cannot be listed is skipped (root can list anything).
  if (geteuid() != 0) {
    fs::permissions(t / "b", fs::perms::none);
    Recorder locked({"C:\\t\\b", "C:\\u"});
    EXPECT_EQ(locked.Run(), (Strings{"begin", "dir C:\\u\\", "file C:\\u\\two.dpl", "end"}));
    fs::permissions(t / "b", fs::perms::owner_all);
  }
}

TEST(FileFinder, PumpsMessagesBetweenFoldersNoMoreOftenThanItsInterval) {
  Tree tree;
  Recorder rec({"C:\\t"});
  int pumps = 0;
  rec.finder.ProcessMessages = [&] { ++pumps; };
  rec.finder.PumpInterval = std::chrono::milliseconds(0);
  rec.Run();
  EXPECT_EQ(pumps, 5);  // t, a, b, a\dir.dpl, a\x
  pumps = 0;
  rec.finder.PumpInterval = std::chrono::hours(1);
  rec.Run();
  EXPECT_EQ(pumps, 0);
  // A handler cannot start the running finder again.
  bool nested = true;
  rec.finder.OnEndSearch = nullptr;
  rec.finder.OnBeforeExecute = [&] { nested = rec.finder.Execute(); };
  rec.Run();
  EXPECT_FALSE(nested);
}

TEST(FileFinder, ExtensionMasksMatchAsTheGeneralRulesDo) {
  // "*.ext" takes a short cut; "*.e?t" and "*.[ext]*" go the general way.
  const std::pair<const char*, bool> cases[] = {
      {"a.dpl", true},      {"A.DPL", true}, {"a.b.dpl", true},  {".dpl", true},
      {"a.dpl.bak", false}, {"dpl", false},  {"a.dplx", false},  {"a.", false},
      {"a.dp", false},      {"", false},     {"\u00e9.DPL", true},
      {"\u8868.\uFF44pl", false},
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(MatchesMask(name, "*.dpl"), expected);
    EXPECT_EQ(MatchesMask(name, "*.dp?"), expected || std::string_view(name) == "a.dp");
  }
}

TEST(FileFinder, FindModuleFileTakesTheCurrentFolderFirstAndIgnoresWildcardNames) {
  Tree tree;
  tree.prefix.WriteText("C:\\apps\\sub\\two.dpl", "x");
  tree.prefix.System().SetCurrentDirectory("C:\\apps");
  TFileFinder finder;
  std::string found;
  EXPECT_TRUE(FindModuleFile(finder, "TWO.DPL", found));
  EXPECT_EQ(found, "C:\\apps\\sub\\two.dpl");
  EXPECT_TRUE(FindModuleFile(finder, "deep.dpl", found));
  EXPECT_EQ(found, "C:\\t\\a\\x\\deep.dpl");
  found = "unchanged";
  for (const char* name : {"*.dpl", "dee?.dpl", "nowhere.dll", ""}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(FindModuleFile(finder, name, found));
    EXPECT_EQ(found, "unchanged");
  }
}

// Names Windows cannot have are left out; below a root no network or
// user-space mount of the (injected) mount table is entered, but such a mount
// given as a root is searched; a drive that maps a parent folder of C: names
// C:'s files by C:.
TEST(FileFinder, LeavesOutForeignNamesAndRemoteMountsAndNamesFilesByTheirDrive) {
  Tree tree;
  TempPrefix& prefix = tree.prefix;
  const fs::path h = prefix.Host("C:\\h");
  fs::create_directories(h / "net");
  for (const char* name : {"ok.dpl", "a\tb.dpl", "x:y.dpl", "q?.dpl", "lt<.dpl", "back\\s.dpl",
                           "pipe|.dpl", "nl\n.dpl", "net/in.dpl"})
    test::WriteBytes(h / name, {'x'});
  const fs::path mounts = prefix.Root() / "mountinfo";
  std::ofstream(mounts) << "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                        << "90 22 0:77 / " << fs::canonical(h / "net").string()
                        << " rw,relatime shared:50 - nfs4 srv:/export rw,vers=4.2\n";
  Recorder rec({"C:\\h"});
  rec.finder.MountTable = mounts;
  EXPECT_EQ(rec.Run(), (Strings{"begin", "dir C:\\h\\", "file C:\\h\\ok.dpl", "end"}));
  rec.finder.Roots = {"C:\\h\\net"};
  EXPECT_EQ(rec.Run(), (Strings{"begin", "dir C:\\h\\net\\", "file C:\\h\\net\\in.dpl", "end"}));

  prefix.System().Drives().Map('Z', prefix.Root());
  Recorder viaZ({"Z:\\"}, "deep.dpl");
  const Strings log = viaZ.Run();
  EXPECT_NE(std::find(log.begin(), log.end(), "file C:\\t\\a\\x\\deep.dpl"), log.end());
  for (const std::string& line : log) EXPECT_EQ(line.find("drive_c"), std::string::npos) << line;
}

// One module search for a whole analysis answers every name as a search of
// its own would, and lists each folder of each root once, however many
// names are looked for.
TEST(ModuleSearch, AnswersAsASearchPerNameAndWalksEachRootOnce) {
  Tree tree;
  TempPrefix& prefix = tree.prefix;
  for (const char* f : {"C:\\apps\\here.dll", "C:\\apps\\sub\\deep2.dll", "C:\\lib\\A\\twice.dll",
                        "C:\\lib\\B\\TWICE.DLL", "C:\\lib\\B\\dot", "C:\\lib\\C\\Twice.dll"})
    prefix.WriteText(f, "x");
  for (int i = 0; i < 40; ++i) prefix.WriteText("C:\\many\\d" + std::to_string(i) + "\\f.txt", "x");
  fs::create_directories(prefix.Root() / "drive_d" / "x");
  test::WriteBytes(prefix.Root() / "drive_d" / "x" / "only_d.dll", {'x'});
  prefix.System().Drives().Map('D', prefix.Root() / "drive_d");
  prefix.System().SetCurrentDirectory("C:\\apps");

  TFileFinder finder;
  TModuleSearch search(finder);
  for (const char* name : {"twice.dll", "here.dll", "DEEP2.dll", "dot.", "only_d.dll", "deep.dpl",
                           "missing.dll", "HERE.DLL", "*.dll", "TWICE.dll"}) {
    SCOPED_TRACE(name);
    std::string each = "none", once = "none";
    EXPECT_EQ(search.Find(name, once), FindModuleFile(finder, name, each));
    EXPECT_EQ(once, each);
  }
  // Every folder of every root once: C:\apps (2), C:\ (all of drive_c), D:\ (2).
  size_t folders = 2 + 1 + 2;
  for (const auto& e : fs::recursive_directory_iterator(prefix.Root() / "drive_c"))
    folders += e.is_directory() ? 1 : 0;
  EXPECT_EQ(search.FoldersListed(), folders);
  for (int i = 0; i < 1000; ++i) {
    std::string path;
    EXPECT_FALSE(search.Find("missing" + std::to_string(i) + ".dll", path));
  }
  EXPECT_EQ(search.FoldersListed(), folders);
  for (const char* root : {"C:\\apps\\", "C:\\", "D:\\"}) EXPECT_EQ(search.Walks(root), 1u) << root;
}

}  // namespace
}  // namespace kx
