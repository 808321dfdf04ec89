#pragma once
// How the POSIX scan holds a dump while it reads it: an advisory lock stands
// in for the exclusive open of Windows. Kept apart from the rest of the
// file-system code so that every way the lock can fail can be made to
// happen in a test.

namespace dumpscan {

/// A lock call with flock(2)'s arguments and results: 0, or -1 with errno set.
using LockCall = int (*)(int fd, int operation);

/// Locks the open dump `fd` through `lock`, never waiting: exclusively where
/// the file system allows it; shared where it refuses an exclusive lock on a
/// file opened only for reading (EBADF, as NFS does) or lacks that kind of
/// lock (ENOLCK, EOPNOTSUPP/ENOTSUP, EINVAL) or the lock call itself (ENOSYS,
/// in some sandboxes and emulators); not at all where it lacks the shared
/// lock too. False for every other answer, EACCES and EAGAIN among
/// them: another process holds the file, which is then not read.
bool LockDumpForReading(int fd, LockCall lock);

}  // namespace dumpscan
