// Hive files on disk: reading, atomic rewriting, and the check for a running
// wineserver that would write its own copy of the registry back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include "platform/host_file.h"
#include "platform/registry_hive.h"

namespace kx {
namespace fs = std::filesystem;

namespace {

// What tells a later call cheaply whether a file may still hold the bytes
// read from it: a rewrite (ours is a rename) changes the inode, any write
// the size or the change time.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  bool operator==(const FileStamp&) const = default;
};

int64_t Nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + static_cast<int64_t>(t.tv_nsec);
}

FileStamp StampOf(const struct stat& st) {
  return FileStamp{st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim),
                   Nanoseconds(st.st_ctim)};
}

int64_t NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

// The whole file in one read (more when it grows meanwhile); nullopt when
// it cannot be opened or read, or is not a regular file.
std::optional<std::string> ReadWhole(const fs::path& path) {
  const HostFile file(path);
  if (!file.IsOpen()) return std::nullopt;
  return file.ReadAll();
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Writes data to a temporary file beside target and renames it over target,
// provided target still holds expected. Returns false when target changed
// meanwhile (nothing written); throws when the write fails.
bool ReplaceFile(const fs::path& target, std::string_view data, const std::string& expected) {
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::string tmp = (dir / ("." + target.filename().string() + ".kx-XXXXXX")).string();
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) throw ERegistryException("Cannot create a temporary file beside " + target.string());
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  struct stat st {};
  if (ok && ::stat(target.c_str(), &st) == 0) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(tmp.c_str());
    throw ERegistryException("Cannot write " + target.string());
  }
  auto current = ReadWhole(target);
  if (!current || *current != expected) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw ERegistryException("Cannot replace " + target.string());
  }
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

std::mutex& WarningMutex() {
  static std::mutex m;
  return m;
}

RegistryWarningFn& WarningHandler() {
  static RegistryWarningFn handler = [](const std::string& text) {
    std::cerr << "kestrix: " << text << "\n";
  };
  return handler;
}

}  // namespace

std::shared_ptr<const RegistryHive> HiveFile::Load() const {
  // Every operation asks for the hive again, and a large system.reg costs
  // far more to read and parse than to stat. The parsed form is kept per
  // file and handed out again while the file is unchanged: the same inode,
  // size and times, and, for a file changed too shortly before it was read
  // for times to tell a later change apart, the same bytes.
  struct Parsed {
    FileStamp stamp;
    int64_t readAtNs = 0;
    std::shared_ptr<const RegistryHive> hive;
  };
  // Time stamps of a file system can lag the clock and be coarse.
  constexpr int64_t kStampSlackNs = 2'000'000'000;
  static std::mutex cacheMutex;
  // Never freed: tearing down a large parsed hive at exit only costs time.
  static auto& cache = *new std::map<std::string, Parsed>;
  const std::string key = path_.lexically_normal().string();
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return nullptr;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto it = cache.find(key);
    if (it != cache.end() && it->second.stamp == StampOf(st) &&
        std::max(it->second.stamp.mtimeNs, it->second.stamp.ctimeNs) + kStampSlackNs <
            it->second.readAtNs)
      return it->second.hive;
  }
  const int64_t readAt = NowNs();
  const HostFile file(path_);
  if (!file.IsOpen()) return nullptr;
  const FileStamp stamp = StampOf(file.Status());
  const std::shared_ptr<const std::string_view> text = file.ReadAllShared();
  if (!text) return nullptr;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto it = cache.find(key);
    if (it != cache.end() && it->second.hive->Text() == *text) {
      it->second.stamp = stamp;
      it->second.readAtNs = readAt;
      return it->second.hive;
    }
  }
  std::shared_ptr<const RegistryHive> hive;
  try {
    hive = std::make_shared<const RegistryHive>(RegistryHive::Parse(text));
  } catch (const ERegistryException&) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cache.size() >= 8 && !cache.count(key)) cache.erase(cache.begin());
  cache[key] = Parsed{stamp, readAt, hive};
  return hive;
}

bool HiveFile::Modify(const std::function<bool(RegistryHive&)>& change) const {
  std::error_code ec;
  fs::path target = path_;
  if (fs::is_symlink(target, ec)) target = fs::canonical(path_, ec);
  if (ec) throw ERegistryException("Cannot resolve " + path_.string());
  // A writer that replaces the file between our read and our rename makes
  // us start over from its version, so its change is kept as well as ours.
  for (int attempt = 0; attempt < 5; ++attempt) {
    auto text = ReadWhole(target);
    if (!text) throw ERegistryException("Cannot read " + target.string());
    RegistryHive hive = RegistryHive::Parse(*text);
    if (!change(hive)) return false;
    if (ReplaceFile(target, hive.Serialize(), *text)) return true;
  }
  throw ERegistryException("The registry file " + target.string() + " keeps changing");
}

bool WineServerRunning(const fs::path& prefix) {
  // wineserver serves a prefix from /tmp/.wine-<uid>/server-<dev>-<inode>
  // (of the prefix folder, in hex) and holds a write lock on its "lock"
  // file for as long as it runs.
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) return false;
  char dir[128];
  std::snprintf(dir, sizeof dir, "/tmp/.wine-%u/server-%llx-%llx",
                static_cast<unsigned>(::getuid()), static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string lock = std::string(dir) + "/lock";
  const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  const bool locked = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

RegistryWarningFn SetRegistryWarningHandler(RegistryWarningFn handler) {
  std::lock_guard<std::mutex> lock(WarningMutex());
  RegistryWarningFn previous = std::move(WarningHandler());
  WarningHandler() = std::move(handler);
  return previous;
}

void RegistryAccessor::WarnIfWineRunning() const {
  if (!prefix_ || !WineServerRunning(*prefix_)) return;
  static std::set<std::string> warned;
  const std::string file = HivePath()->string();
  RegistryWarningFn handler;
  {
    std::lock_guard<std::mutex> lock(WarningMutex());
    if (!warned.insert(file).second) return;
    handler = WarningHandler();
  }
  if (handler)
    handler("A Wine session is running for " + prefix_->string() +
            "; it keeps the registry in memory and may overwrite the change written to " + file +
            " when it saves. Stop it (wineserver -k) before changing settings.");
}

}  // namespace kx
