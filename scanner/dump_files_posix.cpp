// POSIX file-system operations. Entries are opened relative to the open
// directory, so neither the depth of the working directory nor the bytes of
// a name (which need not be UTF-8) stand in the way.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "engine/dump_name.h"
#include "scanner/dump_files.h"
#include "scanner/dump_lock_posix.h"

namespace dumpscan {

// The build asks for 64-bit offsets and inode numbers (CMakeLists.txt); a
// 32-bit build without them lists nothing where readdir or fstat meet a
// 64-bit value, and cannot read a dump over 2 GiB.
static_assert(sizeof(off_t) == 8, "off_t must be 64 bits wide: build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(ino_t) == 8, "ino_t must be 64 bits wide: build with _FILE_OFFSET_BITS=64");

struct DirectoryScanState {
  DIR* dir;
};

struct DumpFileState {
  int fd;
  off_t size;  // as fstat saw it when the file was opened
};

void DirectoryScanCloser::operator()(DirectoryScanState* scan) const {
  closedir(scan->dir);
  delete scan;
}

void DumpFileCloser::operator()(DumpFileState* file) const {
  close(file->fd);
  delete file;
}

namespace {

// A file descriptor owned for the length of a scope.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens a directory by a path of any length: a path too long for one system
// call is walked a component at a time.
int OpenDirectory(const NativeString& path) {
  const char* whole = path.empty() ? "." : path.c_str();
  const int fd = open(whole, kDirectoryFlags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;

  int current = open(path.front() == '/' ? "/" : ".", kDirectoryFlags);
  std::size_t start = 0;
  while (current >= 0 && start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == NativeString::npos) end = path.size();
    if (end > start) {
      const NativeString component = path.substr(start, end - start);
      const int next = openat(current, component.c_str(), kDirectoryFlags);
      close(current);
      current = next;
    }
    start = end + 1;
  }
  return current;
}

ListedType TypeOfListing(unsigned char type) {
  switch (type) {
    case DT_REG:
      return ListedType::kFile;
    case DT_LNK:
      return ListedType::kLink;
    case DT_UNKNOWN:
      return ListedType::kUnknown;
    default:
      return ListedType::kOther;
  }
}

// Answers that mean "this file system has no such lock", not "someone holds
// the file": over NFS an exclusive lock needs write access (EBADF on a file
// opened for reading), a server may have no lock manager (ENOLCK), and some
// file systems take no locks at all (EINVAL, EOPNOTSUPP), and a sandbox or
// an emulator may not offer the call itself (ENOSYS). Skipping there would
// hide every dump, with no sign why. Anything else, EACCES and EAGAIN
// among them (lock emulations report a conflict with either), is taken as
// another holder.
bool LacksLock(int error, int operation) {
  if (error == EBADF) return (operation & LOCK_EX) != 0;
  return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL ||
         error == ENOSYS;
}

// The path CurrentDirectory() last gave. A scan of it opens "." itself,
// never the path again: the path may name another directory by then (the
// working directory renamed or moved), or none the user may reach.
NativeString& LastWorkingDirectory() {
  static NativeString path;
  return path;
}

}  // namespace

NativeString CurrentDirectory() {
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return {};
  NativeString path(cwd);
  std::free(cwd);
  if (path.back() != '/') path += '/';
  LastWorkingDirectory() = path;
  return path;
}

DirectoryScan BeginDirectoryScan(const NativeString& path) {
  // The working directory by its path would need search permission on every
  // directory above it, which a user may lack (a parent of mode 0700 after
  // sudo -u) while still reading the directory itself.
  const bool working_directory = path.empty() || path == LastWorkingDirectory();
  OwnedFd fd(working_directory ? open(".", kDirectoryFlags) : OpenDirectory(path));
  if (fd.get() < 0) return nullptr;
  DIR* dir = fdopendir(fd.get());
  if (dir == nullptr) return nullptr;
  fd.release();
  return DirectoryScan(new DirectoryScanState{dir});
}

bool NextDumpEntry(DirectoryScanState& scan, DumpEntry& entry) {
  while (const dirent* item = readdir(scan.dir)) {
    const std::string_view name(item->d_name);
    if (!IsDumpName(name)) continue;
    entry.native_name.assign(name);
    entry.listed_type = TypeOfListing(item->d_type);
    // Printable ASCII shows as itself; copying it into the entry's own
    // storage spares a fresh string per dump for the usual names.
    const bool plain =
        std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (plain) {
      // (assign() from char iterators would build a temporary string first)
      entry.display_name.resize(name.size());
      std::copy(name.begin(), name.end(), entry.display_name.begin());
    } else {
      entry.display_name = DisplayName(name);
    }
    return true;
  }
  return false;
}

bool LockDumpForReading(int fd, LockCall lock) {
  for (const int operation : {LOCK_EX | LOCK_NB, LOCK_SH | LOCK_NB}) {
    int result;
    do {
      result = lock(fd, operation);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (!LacksLock(errno, operation)) return false;
  }
  return true;
}

DumpFile OpenDumpFile(const DirectoryScanState& scan, const DumpEntry& entry) {
  const int directory = dirfd(scan.dir);
  const char* name = entry.native_name.c_str();
  // Even a non-blocking open of a FIFO releases a writer waiting in its own
  // open, whose bytes would then be lost unread: what the listing (or, for a
  // link, what it names) shows not to be a file is never opened.
  if (entry.listed_type == ListedType::kOther) return nullptr;
  if (entry.listed_type != ListedType::kFile) {
    struct stat target;
    if (fstatat(directory, name, &target, 0) != 0 || !S_ISREG(target.st_mode)) return nullptr;
  }
  // The entry can be replaced between the listing and the open: the open
  // still never blocks, and anything but a regular file is turned away.
  // O_NONBLOCK also makes the open of a file under another's lease fail at
  // once (EWOULDBLOCK) instead of waiting for the lease to be broken.
  OwnedFd fd(openat(directory, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return nullptr;
  struct stat info;
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  // A file another process holds locked is skipped whole.
  if (!LockDumpForReading(fd.get(), flock)) return nullptr;
  return DumpFile(new DumpFileState{fd.release(), info.st_size});
}

std::size_t ReadDumpBytes(DumpFileState& file, std::uint64_t offset,
                          std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = pread(file.fd, buffer.data() + done, buffer.size() - done,
                            static_cast<off_t>(offset + done));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    done += static_cast<std::size_t>(n);
    // A short read that reached the size seen at open is the end of the
    // file; asking again would only return 0, one system call per short
    // dump for nothing.
    if (static_cast<std::uint64_t>(file.size) <= offset + done) break;
  }
  return done;
}

}  // namespace dumpscan
