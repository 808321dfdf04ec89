/* The Windows counterpart of floor.c: the least a Windows program can do
 * and still do dumpscan's job, with the same calls per dump, no decoding
 * and no text. Timing dumpscan.exe against it (bench/run.sh, under Wine)
 * shows what the tool costs on top of the calls the job needs anyway.
 *
 * Calls, and why the job needs each:
 *
 *   once:      AllocConsole, GetStdHandle, GetConsoleMode, GetFileType: the
 *              tool's own console window, and whether the output is that
 *              console (text) or anything else (bytes), decided once.
 *              GetCurrentDirectoryW: the folder as an absolute path in the
 *              long form ("\\?\"), where a name is only a file name and
 *              never a device (CON.bin, COM1.bin).
 *              FindFirstFileW on "\\?\<folder>\*.bin".
 *   per entry: FindNextFileW.
 *   per *.bin: write     the name line, before the dump is touched.
 *              CreateFileW  read-only, no sharing: a dump another process
 *                        holds is skipped, never read half-written.
 *              GetFileType  only a file on disk is a dump.
 *              SetFilePointer + ReadFile: 24 bytes at 1908; the record
 *                        block and the counter word are adjacent.
 *              write x2  the two reading lines.
 *              CloseHandle.
 *              write     the empty line that ends the dump's block.
 *   once:      write "Press ENTER", FlushFileBuffers when the output is a
 *              file on disk (the report is on the disk before the wait),
 *              ReadFile one line from standard input.
 *
 * A write is WriteConsoleW to a console and WriteFile to anything else, of
 * dumpscan's line lengths in UTF-16LE with CR LF for a dump with a valid
 * 6-digit reading, which is what the generated timing sets hold.
 */

#include <wchar.h>
#include <windows.h>

enum {
  kRecordOffset = 0x774,
  kBlockBytes = 20 + 4,
  /* "0x774: " + 20 "XX " + "--> 123456 km --> CRC/Parity OK" + CR LF */
  kRecordLineUnits = 7 + 60 + 31 + 2,
  /* "0x788: " + 4 "XX " + "--> 123456.78 km  --> CRC OK" + CR LF */
  kWordLineUnits = 7 + 12 + 28 + 2,
  kPromptUnits = 11 + 2,
  kMaxNameUnits = MAX_PATH + 2,
};

static wchar_t filler[kMaxNameUnits];
static HANDLE output;
static BOOL output_is_console;

static void WriteUnits(DWORD units) {
  DWORD written = 0;
  if (output_is_console) {
    WriteConsoleW(output, filler, units, &written, NULL);
  } else {
    WriteFile(output, filler, units * (DWORD)sizeof(wchar_t), &written, NULL);
  }
}

static int IsDumpName(const wchar_t* name) {
  const size_t length = wcslen(name);
  return length >= 4 && _wcsicmp(name + length - 4, L".bin") == 0;
}

static void ScanDump(wchar_t* path, size_t directory_length, const wchar_t* name) {
  const size_t name_length = wcslen(name);
  WriteUnits((DWORD)name_length + 2);
  wmemcpy(path + directory_length, name, name_length + 1);
  const HANDLE file =
      CreateFileW(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    if (GetFileType(file) == FILE_TYPE_DISK &&
        SetFilePointer(file, kRecordOffset, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER) {
      unsigned char bytes[kBlockBytes];
      DWORD got = 0;
      if (ReadFile(file, bytes, sizeof bytes, &got, NULL)) {
        if (got >= 20) WriteUnits(kRecordLineUnits);
        if (got >= kBlockBytes) WriteUnits(kWordLineUnits);
      }
    }
    CloseHandle(file);
  }
  WriteUnits(2);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  wmemset(filler, L'x', kMaxNameUnits);
  AllocConsole();
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  output_is_console = GetConsoleMode(output, &mode);
  const BOOL output_on_disk = GetFileType(output) == FILE_TYPE_DISK;

  /* "\\?\" + folder + "\" + name: room for the longest name. */
  static wchar_t path[4 + 32768 + kMaxNameUnits];
  wmemcpy(path, L"\\\\?\\", 4);
  DWORD length = GetCurrentDirectoryW(32768, path + 4);
  if (length > 0 && length < 32768) {
    length += 4;
    if (path[length - 1] != L'\\') path[length++] = L'\\';
    wmemcpy(path + length, L"*.bin", 6);
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(path, &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (IsDumpName(found.cFileName)) ScanDump(path, length, found.cFileName);
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
  }
  WriteUnits(kPromptUnits);
  if (output_on_disk) FlushFileBuffers(output);
  char line[4096];
  DWORD got = 0;
  ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &got, NULL);
  FreeConsole();
  return 0;
}
