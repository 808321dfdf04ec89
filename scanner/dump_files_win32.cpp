// Windows file-system operations. The platform's own wildcard matcher picks
// the dumps, and a dump is opened without sharing, so a file that another
// process holds in any way is skipped rather than read half-written.

#include <windows.h>

#include <limits>

#include "engine/dump_name.h"
#include "scanner/dump_files.h"
#include "scanner/long_path_win32.h"

namespace dumpscan {

struct DirectoryScanState {
  HANDLE find;             // INVALID_HANDLE_VALUE when nothing matched
  WIN32_FIND_DATAW first;  // found by FindFirstFileW, not yet handed out
  bool first_pending;
  // Absolute, in the long form, ending in "\\": a found name appended is
  // the path that opens it. Empty when the directory could not be named so.
  NativeString directory;
};

struct DumpFileState {
  HANDLE file;
};

void DirectoryScanCloser::operator()(DirectoryScanState* scan) const {
  if (scan->find != INVALID_HANDLE_VALUE) FindClose(scan->find);
  delete scan;
}

void DumpFileCloser::operator()(DumpFileState* file) const {
  CloseHandle(file->file);
  delete file;
}

namespace {

std::u16string ToUtf16(const wchar_t* text) {
  std::u16string out;
  for (; *text != L'\0'; ++text) out += static_cast<char16_t>(*text);
  return out;
}

}  // namespace

// Every path reaches the file system in its long form, whatever its length:
// a name in it is then only a file name. In any other form, Windows 10 and
// older read a last part named like a device, with any extension (CON.bin,
// COM1.bin, nul.bin.bin), as that device: opening COM1.bin would open the
// serial port, and a read from it could wait for ever. The long form also
// takes paths past MAX_PATH. A device path ("\\.\") is no UNC path: it
// is left as it is, since it names the device namespace already.
std::wstring LongPathForm(std::wstring path) {
  if (path.starts_with(LR"(\\?\)") || path.starts_with(LR"(\\.\)")) return path;
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return LR"(\\?\)" + path;
  if (path.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + path.substr(2);
  return path;
}

NativeString CurrentDirectory() {
  // The directory may change between asking for the size and fetching it,
  // so ask again until the answer fits.
  NativeString path;
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  while (needed != 0) {
    path.resize(needed);
    const DWORD length = GetCurrentDirectoryW(needed, path.data());
    if (length == 0) return {};
    if (length < needed) {
      path.resize(length);
      if (path.empty()) return {};
      if (path.back() != L'\\') path += L'\\';
      return path;
    }
    needed = length;
  }
  return {};
}

namespace {

// The directory `path` names (the working directory when empty) as an
// absolute path in the long form, ending in "\\", so that a found name
// appended to it is opened as exactly that file. Empty when a relative path
// cannot be made absolute.
std::wstring AbsoluteDirectory(const std::wstring& path) {
  std::wstring directory = path.empty() ? L"." : path;
  if (directory.starts_with(LR"(\\?\)") || directory.starts_with(LR"(\\.\)")) {
    if (directory.back() != L'\\') directory += L'\\';
    return directory;
  }
  if (directory.back() != L'\\' && directory.back() != L'/') directory += L'\\';
  // Resolves a relative, drive-relative or rooted path against the working
  // directory, and "/", "." and ".." as the system does; the path ends in a
  // separator, so its last part is never taken for a device.
  std::wstring full;
  DWORD needed = GetFullPathNameW(directory.c_str(), 0, nullptr, nullptr);
  while (needed != 0) {
    full.resize(needed);
    const DWORD length = GetFullPathNameW(directory.c_str(), needed, full.data(), nullptr);
    if (length == 0) return {};
    if (length < needed) {
      full.resize(length);
      if (full.back() != L'\\') full += L'\\';
      return LongPathForm(std::move(full));
    }
    needed = length;
  }
  return {};
}

}  // namespace

DirectoryScan BeginDirectoryScan(const NativeString& path) {
  DirectoryScan scan(
      new DirectoryScanState{INVALID_HANDLE_VALUE, {}, false, AbsoluteDirectory(path)});
  // Without an absolute directory the entries are still listed, by the
  // relative pattern, but never opened: a bare name could be a device.
  NativeString pattern = scan->directory;
  if (pattern.empty()) {
    pattern = path;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  }
  pattern += L"*.bin";
  scan->find = FindFirstFileW(pattern.c_str(), &scan->first);
  if (scan->find != INVALID_HANDLE_VALUE) {
    scan->first_pending = true;
    return scan;
  }
  // A directory without dumps is a scan with no entries, not a failure.
  if (GetLastError() == ERROR_FILE_NOT_FOUND) return scan;
  return nullptr;
}

bool NextDumpEntry(DirectoryScanState& scan, DumpEntry& entry) {
  if (scan.find == INVALID_HANDLE_VALUE) return false;
  WIN32_FIND_DATAW found;
  for (;;) {
    if (scan.first_pending) {
      found = scan.first;
      scan.first_pending = false;
    } else if (!FindNextFileW(scan.find, &found)) {
      return false;
    }
    // The wildcard also matched short aliases; only the long name counts.
    const std::u16string name = ToUtf16(found.cFileName);
    if (!IsDumpName(name)) continue;
    entry.native_name = found.cFileName;
    entry.display_name = DisplayName(name);
    return true;
  }
}

DumpFile OpenDumpFile(const DirectoryScanState& scan, const DumpEntry& entry) {
  if (scan.directory.empty()) return nullptr;
  const NativeString path = scan.directory + entry.native_name;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DumpFile dump(new DumpFileState{file});
  // The long form keeps device names out, but a file system can still hand
  // out something else under a name (a FIFO or device on a Linux file
  // system seen through Wine); only files on disk are dumps.
  if (GetFileType(file) != FILE_TYPE_DISK) return nullptr;
  return dump;
}

std::size_t ReadDumpBytes(DumpFileState& file, std::uint64_t offset,
                          std::span<std::uint8_t> buffer) {
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD low =
      SetFilePointer(file.file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;

  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::size_t room = buffer.size() - done;
    const DWORD ask = room > std::numeric_limits<DWORD>::max() ? std::numeric_limits<DWORD>::max()
                                                               : static_cast<DWORD>(room);
    DWORD got = 0;
    if (!ReadFile(file.file, buffer.data() + done, ask, &got, nullptr)) return 0;
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace dumpscan
