// The Windows file-system operations behind dump_files.h, called directly.

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <vector>

#include "scanner/dump_files.h"
#include "scanner/long_path_win32.h"
#include "tests/dump_fixture.h"
#include "tests/run_tool.h"

namespace dumpscan {
namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDirectory;

std::vector<std::wstring> Names(DirectoryScanState& scan) {
  std::vector<std::wstring> names;
  DumpEntry entry;
  while (NextDumpEntry(scan, entry)) {
    EXPECT_EQ(entry.display_name,
              std::u16string(entry.native_name.begin(), entry.native_name.end()));
    names.push_back(entry.native_name);
  }
  return names;
}

// Restores the working directory when the scope ends.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& path) : saved_(fs::current_path()) {
    fs::current_path(path);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  ~WorkingDirectory() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

// Scans `directory` as the tool does and expects one dump in it, `name`,
// listed, opened and read to its end as `bytes`.
void ExpectTheOnlyDump(const std::wstring& directory, const std::wstring& name,
                       const std::vector<std::uint8_t>& bytes) {
  const DirectoryScan scan = BeginDirectoryScan(directory);
  ASSERT_TRUE(scan);
  DumpEntry entry;
  ASSERT_TRUE(NextDumpEntry(*scan, entry));
  EXPECT_EQ(entry.native_name, name);
  {
    const DumpFile file = OpenDumpFile(*scan, entry);
    ASSERT_TRUE(file);
    // One byte more than the dump holds: the read ends where the file does.
    std::vector<std::uint8_t> got(bytes.size() + 1, 0x77);
    got.resize(ReadDumpBytes(*file, 0, got));
    EXPECT_EQ(got, bytes);
  }
  EXPECT_FALSE(NextDumpEntry(*scan, entry));
}

// However the directory is spelled, the scan opens its dumps by an absolute
// path in the long form, so relative spellings are resolved first.
TEST(DirectoryScanWin32Test, EverySpellingOfTheDirectoryListsAndOpensItsDumps) {
  const ScratchDirectory dir;
  fixture::WriteFile(dir.path() / "a.bin", {1, 2, 3});
  const std::wstring path = dir.path().wstring();
  std::wstring slashes = path;
  for (wchar_t& c : slashes) {
    if (c == L'\\') c = L'/';
  }
  const std::wstring leaf = dir.path().filename().wstring();
  const struct {
    fs::path working_directory;
    std::wstring spelling;
  } cases[] = {
      {dir.path(), path},
      {dir.path(), path + L"\\"},
      {dir.path(), L"\\\\?\\" + path},
      {dir.path(), slashes},
      {dir.path(), std::wstring()},
      {dir.path(), L"."},
      {dir.path().parent_path(), leaf},
      {dir.path().parent_path(), L".\\" + leaf + L"\\..\\" + leaf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.spelling.begin(), c.spelling.end()));
    const WorkingDirectory here(c.working_directory);
    ASSERT_NO_FATAL_FAILURE(ExpectTheOnlyDump(c.spelling, L"a.bin", {1, 2, 3}));
  }
}

TEST(DirectoryScanWin32Test, NoDumpsIsAnEmptyScanAndNoDirectoryNone) {
  const ScratchDirectory dir;
  fixture::WriteFile(dir.path() / "notes.txt", {1});
  const DirectoryScan empty = BeginDirectoryScan(dir.path().wstring());
  ASSERT_TRUE(empty);
  EXPECT_TRUE(Names(*empty).empty());
  EXPECT_FALSE(BeginDirectoryScan((dir.path() / "missing").wstring()));
}

TEST(CurrentDirectoryWin32Test, EndsInExactlyOneSeparator) {
  const ScratchDirectory dir;
  for (const fs::path& path : {dir.path(), dir.path().root_path()}) {
    const WorkingDirectory here(path);
    std::wstring expected = path.wstring();
    if (expected.back() != L'\\') expected += L'\\';
    EXPECT_EQ(CurrentDirectory(), expected);
  }
}

// The working directory may have been entered by its long form, which the
// system may then hand back (Wine gives the plain form). Either way a dump
// in it named like a device is opened as the file.
TEST(CurrentDirectoryWin32Test, ALongFormWorkingDirectoryIsScannedAsItIs) {
  const ScratchDirectory dir;
  const std::wstring long_form = LR"(\\?\)" + dir.path().wstring();
  const std::wstring dump = long_form + L"\\COM1.bin";
  const HANDLE out = CreateFileW(dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(out, "dump", 4, &written, nullptr);
  CloseHandle(out);
  for (const std::wstring& spelling : {dir.path().wstring(), long_form}) {
    SCOPED_TRACE(std::string(spelling.begin(), spelling.end()));
    const WorkingDirectory here(spelling);
    const std::wstring current = CurrentDirectory();
    EXPECT_TRUE(current.ends_with(dir.path().filename().wstring() + L"\\"));
    ASSERT_NO_FATAL_FAILURE(ExpectTheOnlyDump(current, L"COM1.bin", {'d', 'u', 'm', 'p'}));
  }
  DeleteFileW(dump.c_str());
}

TEST(OpenDumpFileWin32Test, ReadsAtAnyOffsetIncludingPastFourGigabytes) {
  const ScratchDirectory dir;
  const fs::path file = dir.path() / "big.bin";
  constexpr std::uint64_t kFar = (std::uint64_t{5} << 30) + 3;
  {
    // Sparse where the file system allows: only the tail is written.
    const HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(out, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(kFar);
    const std::array<std::uint8_t, 4> tail = {0xDE, 0xAD, 0xBE, 0xEF};
    DWORD written = 0;
    const bool ok = SetFilePointerEx(out, at, nullptr, FILE_BEGIN) &&
                    WriteFile(out, tail.data(), 4, &written, nullptr) && written == 4;
    CloseHandle(out);
    ASSERT_TRUE(ok);
  }
  const DirectoryScan scan = BeginDirectoryScan(dir.path().wstring());
  ASSERT_TRUE(scan);
  DumpEntry entry;
  ASSERT_TRUE(NextDumpEntry(*scan, entry));
  const DumpFile dump = OpenDumpFile(*scan, entry);
  ASSERT_TRUE(dump);

  const struct {
    std::uint64_t offset;
    std::size_t want;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {kFar, 4, {0xDE, 0xAD, 0xBE, 0xEF}},
      {kFar + 2, 4, {0xBE, 0xEF}},
      {kFar + 4, 4, {}},
      {kFar + (std::uint64_t{1} << 32), 4, {}},
      {kFar - 2, 4, {0, 0, 0xDE, 0xAD}},
      {0, 2, {0, 0}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> buffer(c.want, 0x77);
    const std::size_t got = ReadDumpBytes(*dump, c.offset, buffer);
    buffer.resize(got);
    EXPECT_EQ(buffer, c.bytes) << c.offset;
  }
}

TEST(OpenDumpFileWin32Test, OnlyExistingFilesOpen) {
  const ScratchDirectory dir;
  fs::create_directory(dir.path() / "folder.bin");
  fixture::WriteFile(dir.path() / "gone.bin", {1});
  const DirectoryScan scan = BeginDirectoryScan(dir.path().wstring());
  ASSERT_TRUE(scan);
  DumpEntry entry;
  std::vector<std::wstring> seen;
  while (NextDumpEntry(*scan, entry)) {
    if (entry.native_name == L"gone.bin") fs::remove(dir.path() / "gone.bin");
    EXPECT_FALSE(OpenDumpFile(*scan, entry)) << fs::path(entry.native_name);
    seen.push_back(entry.native_name);
  }
  EXPECT_EQ(seen.size(), 2u);
}

TEST(LongPathFormTest, AbsolutePathsTakeTheLongFormAtAnyLength) {
  const std::wstring tail(300, L'd');
  const struct {
    std::wstring path;
    std::wstring form;
  } cases[] = {
      {LR"(C:\)" + tail, LR"(\\?\C:\)" + tail},
      {LR"(\\server\share\)" + tail, LR"(\\?\UNC\server\share\)" + tail},
      {LR"(C:\dumps\COM1.bin)", LR"(\\?\C:\dumps\COM1.bin)"},
      {LR"(Z:\)", LR"(\\?\Z:\)"},
      {LR"(\\server\share\CON.bin)", LR"(\\?\UNC\server\share\CON.bin)"},
      {LR"(\\?\C:\)" + tail, LR"(\\?\C:\)" + tail},
      {LR"(\\?\UNC\server\share\)" + tail, LR"(\\?\UNC\server\share\)" + tail},
      {LR"(\\.\C:\)" + tail, LR"(\\.\C:\)" + tail},
      {LR"(\\.\pipe\)" + tail, LR"(\\.\pipe\)" + tail},
      {tail, tail},
      {L"C:" + tail, L"C:" + tail},
      {L"NUL.bin", L"NUL.bin"},
  };
  for (const auto& c : cases) {
    const std::wstring start = c.path.substr(0, 20);
    EXPECT_EQ(LongPathForm(c.path), c.form) << std::string(start.begin(), start.end());
  }
}

// Windows itself refuses such paths unless they are given in their long form;
// Wine takes both, so here this shows that the long form the scan builds is
// a path that reaches the files.
TEST(DirectoryScanWin32Test, DirectoriesPastMaxPathAreScannedAndRead) {
  const ScratchDirectory dir;
  const std::wstring long_form = LR"(\\?\)";
  std::vector<std::wstring> levels = {dir.path().wstring()};
  for (int k = 0; k < 6; ++k) {
    levels.push_back(levels.back() + L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + k)));
    ASSERT_TRUE(CreateDirectoryW((long_form + levels.back()).c_str(), nullptr));
  }
  const std::wstring deep = levels.back() + L"\\";
  ASSERT_GT(deep.size(), static_cast<std::size_t>(MAX_PATH));
  const std::wstring file_path = long_form + deep + L"deep.bin";
  const std::vector<std::uint8_t> bytes = {7, 8, 9};
  const HANDLE out = CreateFileW(file_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(out);
  EXPECT_NO_FATAL_FAILURE(ExpectTheOnlyDump(deep, L"deep.bin", bytes));
  DeleteFileW(file_path.c_str());
  for (std::size_t k = levels.size() - 1; k > 0; --k)
    RemoveDirectoryW((long_form + levels[k]).c_str());
}

}  // namespace
}  // namespace dumpscan
