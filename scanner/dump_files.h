#pragma once
// The file-system operations the scan needs, one implementation per
// platform (dump_files_posix.cpp, dump_files_win32.cpp). Handles are opaque
// and close themselves.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace dumpscan {

/// A path or file name as the platform spells it: bytes on POSIX, UTF-16
/// on Windows.
#if defined(_WIN32)
using NativeString = std::wstring;
#else
using NativeString = std::string;
#endif

struct DirectoryScanState;
struct DirectoryScanCloser {
  void operator()(DirectoryScanState* scan) const;
};
/// An open scan of one directory for dump entries; null when none began.
using DirectoryScan = std::unique_ptr<DirectoryScanState, DirectoryScanCloser>;

struct DumpFileState;
struct DumpFileCloser {
  void operator()(DumpFileState* file) const;
};
/// A dump opened for reading with exclusive access; null when it could not be.
using DumpFile = std::unique_ptr<DumpFileState, DumpFileCloser>;

/// What a directory listing says an entry is, before anything is opened.
enum class ListedType : std::uint8_t {
  kUnknown,  ///< the listing does not say
  kFile,     ///< a regular file
  kLink,     ///< a symbolic link, to be followed
  kOther,    ///< a directory, FIFO, socket or device: never a dump
};

/// One dump entry of a scan.
struct DumpEntry {
  std::u16string display_name;  ///< the name as printed on its line
  NativeString native_name;     ///< the name as the platform opens it
  ListedType listed_type = ListedType::kUnknown;
};

/// The working directory, ending in the platform's separator; empty when it
/// cannot be fetched (bare names then still resolve to the working directory).
NativeString CurrentDirectory();

/// Begins a scan of `path` for entries whose names match "*.bin"; null when
/// the directory cannot be searched. An empty path, or the one
/// CurrentDirectory() last gave, is the working directory, which on POSIX is
/// opened as itself, without looking the path up again: only its own
/// permissions matter, not its ancestors', and a rename of it or of a
/// directory above it in between changes nothing. (The process must not
/// change its working directory in between.)
DirectoryScan BeginDirectoryScan(const NativeString& path);

/// Fills `entry` with the next matching entry in the platform's enumeration
/// order; false when there is none.
bool NextDumpEntry(DirectoryScanState& scan, DumpEntry& entry);

/// Opens the entry of `scan` for reading only, exclusively and without ever
/// blocking; null for anything that is not an existing regular file, and for
/// a file another process holds: locked, or under a lease (Samba, the NFS
/// server), whose break the open does not wait for. An entry listed as anything but a file or a
/// link is never opened, and a link is followed to see what it names first,
/// so a FIFO's waiting writer is not released. Where the file system cannot
/// lock a file for reading (NFS: no exclusive lock without write access),
/// the file is read under a shared lock, or unlocked when it takes none.
/// On Windows the name is only ever a file of the scanned directory, never
/// a device the system would read it as (CON.bin, COM1.bin); when the
/// directory cannot be named as an absolute path, nothing is opened.
DumpFile OpenDumpFile(const DirectoryScanState& scan, const DumpEntry& entry);

/// Reads up to buffer.size() bytes at `offset` from the start of the file;
/// returns the count read (fewer at the end of the file, 0 past it or on a
/// read error).
std::size_t ReadDumpBytes(DumpFileState& file, std::uint64_t offset,
                          std::span<std::uint8_t> buffer);

}  // namespace dumpscan
