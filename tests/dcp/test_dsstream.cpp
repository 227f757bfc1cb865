// The memory-mapped file stream: growth and remap arithmetic, reads and
// seeks at the edges, and every failure text with nothing left open.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "dcp/dsstream.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::TempPrefix;

size_t OpenDescriptors() {
  size_t n = 0;
  for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

TEST(MemoryMappedStream, CreatedStreamGrowsByItsSlackAndWritesLandWhereTheyStarted) {
  TempPrefix prefix;
  const fs::path host = prefix.Host("C:\\new.bin");
  TMemoryMappedFileStream s("C:\\new.bin", "", fmCreate);
  EXPECT_EQ(s.Size(), 65535);
  EXPECT_EQ(s.Capacity(), 65535);
  EXPECT_EQ(fs::file_size(host), 65535u);
  EXPECT_EQ(s.Seek(0, soFromEnd), 65535);

  // A write crossing Capacity remaps to its end + 65535 and lands at its start.
  EXPECT_EQ(s.Seek(65530, soFromBeginning), 65530);
  EXPECT_EQ(s.Write("0123456789", 10), 10);
  EXPECT_EQ(s.Position(), 65540);
  EXPECT_EQ(s.Size(), 65540);
  EXPECT_EQ(s.Capacity(), 65540 + 65535);
  EXPECT_EQ(std::memcmp(static_cast<const char*>(s.Memory()) + 65530, "0123456789", 10), 0);
  EXPECT_EQ(fs::file_size(host), 65540u + 65535u);

  // A write inside Capacity past Size only moves Size.
  s.Seek(70000, soFromBeginning);
  EXPECT_EQ(s.Write("x", 1), 1);
  EXPECT_EQ(s.Size(), 70001);
  EXPECT_EQ(s.Capacity(), 65540 + 65535);

  // Shrinking remaps to the new size + 65535 and resets Position; the file keeps its length.
  s.SetSize(100);
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.Capacity(), 100 + 65535);
  EXPECT_EQ(s.Position(), 0);
  // Growing within Capacity keeps the mapping.
  s.SetSize(200);
  EXPECT_EQ(s.Capacity(), 100 + 65535);
  // 0 empties the stream and leaves the file as it is.
  s.SetSize(0);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_EQ(fs::file_size(host), 65540u + 65535u);
  EXPECT_TRUE(s.Flush());

  // Writes that would overflow or start nowhere change nothing.
  s.Seek(-1, soFromBeginning);
  EXPECT_EQ(s.Write("a", 1), 0);
  s.Seek(0, soFromBeginning);
  EXPECT_EQ(s.Write("a", 0), 0);
  EXPECT_EQ(s.Write("a", -5), 0);
  EXPECT_EQ(s.Size(), 0);
}

TEST(MemoryMappedStream, ReadsAndSeeksAtTheEdges) {
  TempPrefix prefix;
  prefix.WriteText("C:\\data.bin", "abcdef");
  TMemoryMappedFileStream s("C:\\data.bin", "", fmOpenRead | fmShareDenyWrite);
  char buf[16] = {};
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Seek(4, soFromBeginning), 4);
  EXPECT_EQ(s.Read(buf, 10), 2);  // what is left
  EXPECT_EQ(std::string(buf, 2), "ef");
  EXPECT_EQ(s.Position(), 6);
  EXPECT_EQ(s.Read(buf, 1), 0);  // at Size
  EXPECT_EQ(s.Seek(-2, soFromCurrent), 4);
  EXPECT_EQ(s.Seek(0, soFromEnd), 6);
  EXPECT_EQ(s.Seek(3, 7), 6);  // unknown origin
  s.Seek(-1, soFromBeginning);
  EXPECT_EQ(s.Read(buf, 1), 0);
  s.Seek(0, soFromBeginning);
  EXPECT_EQ(s.Read(buf, -1), 0);

  // A read-only view is never written, and growing fails with the stream kept.
  EXPECT_EQ(s.Write("zz", 2), 0);
  try {
    s.SetSize(100000);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Error opening C:\\data.bin");
  }
  EXPECT_EQ(s.Size(), 6);
  s.Seek(0, soFromBeginning);
  EXPECT_EQ(s.Read(buf, 6), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");

  // Read and write: changes reach the file.
  {
    TMemoryMappedFileStream rw("C:\\data.bin", "", fmOpenReadWrite | fmShareExclusive);
    rw.Seek(1, soFromBeginning);
    EXPECT_EQ(rw.Write("XY", 2), 2);
  }
  EXPECT_EQ(test::ReadHostFile(prefix.Host("C:\\data.bin")),
            (std::vector<uint8_t>{'a', 'X', 'Y', 'd', 'e', 'f'}));
}

TEST(MemoryMappedStream, FailuresCarryTheirTextsAndCloseWhatWasOpened) {
  TempPrefix prefix;
  prefix.WriteText("C:\\empty.bin", "");
  prefix.WriteText("C:\\data.bin", "abc");
  fs::create_directories(prefix.Host("C:\\folder"));
  struct Case {
    const char* file;
    uint32_t mode;
    const char* message;
  };
  const Case cases[] = {
      {"C:\\empty.bin", fmOpenRead, "Error creating file mapping object MAP"},
      {"C:\\missing.bin", fmOpenRead, "Error opening C:\\missing.bin"},
      {"C:\\folder", fmOpenRead, "Error opening C:\\folder"},
      {"Q:\\nodrive.bin", fmOpenRead, "Error opening Q:\\nodrive.bin"},
      {"C:\\data.bin", fmOpenWrite, "Error creating file mapping object MAP"},
      {"C:\\no\\such\\folder\\x.bin", fmCreate, "Error creating C:\\no\\such\\folder\\x.bin"},
  };
  const size_t before = OpenDescriptors();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    try {
      TMemoryMappedFileStream s(c.file, "MAP", c.mode);
      ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(c.mode, fmCreate);
      EXPECT_STREQ(e.what(), c.message);
    } catch (const EFOpenError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace kx
