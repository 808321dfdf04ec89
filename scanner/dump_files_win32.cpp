// Windows file-system operations. The platform's own wildcard matcher picks
// the dumps, and a dump is opened without sharing, so a file that another
// process holds in any way is skipped rather than read half-written.

#include <windows.h>

#include <limits>

#include "scanner/dump_files.h"
#include "scanner/dump_name.h"
#include "scanner/long_path_win32.h"

namespace dumpscan {

struct DirectoryScanState {
  HANDLE find;             // INVALID_HANDLE_VALUE when nothing matched
  WIN32_FIND_DATAW first;  // found by FindFirstFileW, not yet handed out
  bool first_pending;
  NativeString directory;  // prefix that turns a found name into a path
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

// A path as long as MAX_PATH or longer reaches the file system only in its
// long form, which takes absolute paths. A working directory of any depth
// stays searchable that way. A device path ("\\.\") is no UNC path: it names
// the device namespace already.
std::wstring LongPathForm(std::wstring path) {
  if (path.size() < MAX_PATH || path.starts_with(LR"(\\?\)") || path.starts_with(LR"(\\.\)")) {
    return path;
  }
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

DirectoryScan BeginDirectoryScan(const NativeString& path) {
  NativeString pattern = path;
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L"*.bin";

  DirectoryScan scan(new DirectoryScanState{INVALID_HANDLE_VALUE, {}, false, path});
  if (!scan->directory.empty() && scan->directory.back() != L'\\') scan->directory += L'\\';
  scan->find = FindFirstFileW(LongPathForm(pattern).c_str(), &scan->first);
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
  const NativeString path = LongPathForm(scan.directory + entry.native_name);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DumpFile dump(new DumpFileState{file});
  // A device that a name can still reach (CON.bin on older systems) would
  // wait for input on the first read; only files on disk are dumps.
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
