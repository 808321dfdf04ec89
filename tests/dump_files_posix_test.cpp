// The POSIX file-system operations: how a dump is locked for reading, and
// which entries are never opened.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "scanner/dump_files.h"
#include "scanner/dump_lock_posix.h"
#include "tests/dump_fixture.h"
#include "tests/fifo_writer_posix.h"
#include "tests/run_tool.h"

namespace dumpscan {
namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDirectory;

// A lock whose answers follow a script: the next errno value per call, 0
// for success. It records the operations it was asked for.
struct LockScript {
  std::vector<int> answers;
  std::vector<int> asked;
};
LockScript* g_script = nullptr;

int ScriptedLock(int /*fd*/, int operation) {
  g_script->asked.push_back(operation);
  if (g_script->asked.size() > g_script->answers.size()) {
    ADD_FAILURE() << "asked more often than scripted";
    errno = EINVAL;
    return -1;
  }
  const int answer = g_script->answers[g_script->asked.size() - 1];
  if (answer == 0) return 0;
  errno = answer;
  return -1;
}

TEST(LockDumpForReadingTest, OnlyAnotherHolderKeepsADumpUnread) {
  constexpr int kExclusive = LOCK_EX | LOCK_NB;
  constexpr int kShared = LOCK_SH | LOCK_NB;
  const struct {
    const char* what;
    std::vector<int> answers;
    bool read;
    std::vector<int> asked;
  } cases[] = {
      {"exclusive lock taken", {0}, true, {kExclusive}},
      {"another process holds it", {EWOULDBLOCK}, false, {kExclusive}},
      {"interrupted, then taken", {EINTR, 0}, true, {kExclusive, kExclusive}},
      {"NFS: exclusive needs write access, shared taken", {EBADF, 0}, true, {kExclusive, kShared}},
      {"NFS: another process holds it exclusively",
       {EBADF, EWOULDBLOCK},
       false,
       {kExclusive, kShared}},
      {"no lock manager on the server", {ENOLCK, ENOLCK}, true, {kExclusive, kShared}},
      {"a file system without locks", {EOPNOTSUPP, EOPNOTSUPP}, true, {kExclusive, kShared}},
      {"locks refused as invalid", {EINVAL, EINVAL}, true, {kExclusive, kShared}},
      {"no flock (a sandbox, an emulator)", {ENOSYS, ENOSYS}, true, {kExclusive, kShared}},
      {"no exclusive lock, shared taken", {ENOTSUP, 0}, true, {kExclusive, kShared}},
      // Lock emulations that report a conflict as EACCES or EAGAIN, and any
      // answer not known to mean a missing lock: the file counts as held.
      {"a conflict reported as EACCES", {EACCES}, false, {kExclusive}},
      {"a conflict reported as EAGAIN", {EAGAIN}, false, {kExclusive}},
      {"NFS: shared lock refused with EACCES", {EBADF, EACCES}, false, {kExclusive, kShared}},
      {"no exclusive lock, shared held elsewhere", {ENOLCK, EAGAIN}, false, {kExclusive, kShared}},
      {"an I/O error", {EIO}, false, {kExclusive}},
      {"no memory for the lock", {ENOMEM}, false, {kExclusive}},
      {"interrupted, then refused", {EINTR, EACCES}, false, {kExclusive, kExclusive}},
      // EBADF means "opened for reading only" for the exclusive lock alone.
      {"a shared lock refused with EBADF", {EINVAL, EBADF}, false, {kExclusive, kShared}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LockScript script{c.answers, {}};
    g_script = &script;
    EXPECT_EQ(LockDumpForReading(3, ScriptedLock), c.read);
    EXPECT_EQ(script.asked, c.asked);
    g_script = nullptr;
  }
}

// Listings of some file systems give no types; a link's type is that of the
// link. Whatever the listing says, only what is a file in the end is opened,
// and a FIFO's waiting writer stays waiting.
TEST(OpenDumpFilePosixTest, OnlyFilesAreOpenedWhateverTheListingSays) {
  const ScratchDirectory dir;
  const testing_support::WaitingFifoWriter writer(dir.path() / "pipe.bin");
  ASSERT_TRUE(writer.Waiting());
  fixture::WriteFile(dir.path() / "file.bin", {1, 2, 3});
  fs::create_directory(dir.path() / "folder.bin");
  fs::create_symlink("pipe.bin", dir.path() / "to-pipe.bin");
  fs::create_symlink("file.bin", dir.path() / "to-file.bin");
  const DirectoryScan scan = BeginDirectoryScan(dir.path().native() + "/");
  ASSERT_NE(scan, nullptr);
  const struct {
    const char* name;
    ListedType listed;
    bool opens;
  } cases[] = {
      {"file.bin", ListedType::kFile, true},        {"file.bin", ListedType::kUnknown, true},
      {"to-file.bin", ListedType::kLink, true},     {"folder.bin", ListedType::kUnknown, false},
      {"pipe.bin", ListedType::kUnknown, false},    {"pipe.bin", ListedType::kLink, false},
      {"to-pipe.bin", ListedType::kLink, false},    {"to-pipe.bin", ListedType::kUnknown, false},
      {"missing.bin", ListedType::kUnknown, false},
  };
  for (const auto& c : cases) {
    const DumpEntry entry{u"", c.name, c.listed};
    EXPECT_EQ(OpenDumpFile(*scan, entry) != nullptr, c.opens)
        << c.name << " listed as " << static_cast<int>(c.listed);
  }
  EXPECT_TRUE(writer.StillWaiting());
}

// The working directory renamed between the fetch of its path and the scan:
// the scan still lists the working directory (by "."), not whatever the old
// path names by then.
TEST(BeginDirectoryScanPosixTest, TheWorkingDirectoryIsScannedEvenAfterARename) {
  const ScratchDirectory dir;
  fs::create_directory(dir.path() / "before");
  fixture::WriteFile(dir.path() / "before" / "inside.bin", {1});
  const fs::path start = fs::current_path();
  fs::current_path(dir.path() / "before");
  const NativeString path = CurrentDirectory();
  fs::rename(dir.path() / "before", dir.path() / "after");
  // Another directory now holds the old name.
  fs::create_directory(dir.path() / "before");
  fixture::WriteFile(dir.path() / "before" / "impostor.bin", {1});
  const DirectoryScan scan = BeginDirectoryScan(path);
  std::vector<std::u16string> names;
  DumpEntry entry;
  while (scan && NextDumpEntry(*scan, entry)) names.push_back(entry.display_name);
  fs::current_path(start);
  EXPECT_EQ(names, std::vector<std::u16string>{u"inside.bin"});
}

}  // namespace
}  // namespace dumpscan
