// End-to-end cases that only Windows semantics show: sharing modes, file
// attributes, short name aliases and missing standard handles.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/dump_fixture.h"
#include "tests/end_to_end_support.h"
#include "tests/run_tool_win32.h"

namespace dumpscan {
namespace {

namespace fs = std::filesystem;
using testing_support::ExpectedDumps;
using testing_support::RunTool;
using testing_support::ScratchDirectory;
using testing_support::ToolRun;

const std::vector<std::u16string>& kReadings = testing_support::kExampleReadings;

std::vector<std::uint8_t> Dump() { return testing_support::ExampleDump(); }
using testing_support::ExpectReport;

// A handle held open by this process for the length of a scope.
class HeldFile {
 public:
  HeldFile(const fs::path& path, DWORD access, DWORD share)
      : handle_(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() {
    if (held()) CloseHandle(handle_);
  }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST(EndToEndWin32Test, AFileHeldOpenByAnotherProcessIsNeverRead) {
  const struct {
    const char* what;
    DWORD access;
    DWORD share;
  } cases[] = {
      {"read, no sharing", GENERIC_READ, 0},
      {"read, shared for reading", GENERIC_READ, FILE_SHARE_READ},
      {"read, shared for everything", GENERIC_READ,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
      {"write, shared for everything", GENERIC_WRITE,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ScratchDirectory dir;
    fixture::WriteFile(dir.path() / "held.bin", Dump());
    fixture::WriteFile(dir.path() / "free.bin", Dump());
    const HeldFile hold(dir.path() / "held.bin", c.access, c.share);
    ASSERT_TRUE(hold.held());
    ExpectReport(RunTool(dir.path()), {{u"held.bin", {}}, {u"free.bin", kReadings}});
  }
}

TEST(EndToEndWin32Test, HiddenSystemAndReadOnlyDumpsAreReadLikeAnyOther) {
  const ScratchDirectory dir;
  const struct {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"hidden.bin", FILE_ATTRIBUTE_HIDDEN},
      {"system.bin", FILE_ATTRIBUTE_SYSTEM},
      {"readonly.bin", FILE_ATTRIBUTE_READONLY},
  };
  ExpectedDumps expected;
  for (const auto& c : cases) {
    const fs::path path = dir.path() / c.name;
    fixture::WriteFile(path, Dump());
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes)) << c.name;
    expected[std::u16string(c.name, c.name + std::char_traits<char>::length(c.name))] = kReadings;
  }
  ExpectReport(RunTool(dir.path()), expected);
  for (const auto& c : cases)
    SetFileAttributesW((dir.path() / c.name).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Files made through their paths in the long form, where a name is only a
// file name, and removed the same way when the scope ends.
class LongFormFiles {
 public:
  explicit LongFormFiles(const fs::path& directory)
      : directory_(LR"(\\?\)" + directory.wstring() + L"\\") {}
  LongFormFiles(const LongFormFiles&) = delete;
  LongFormFiles& operator=(const LongFormFiles&) = delete;
  ~LongFormFiles() {
    for (const std::wstring& name : names_) DeleteFileW((directory_ + name).c_str());
  }

  // True when `name` was made as a file on disk holding exactly `bytes`.
  bool Write(const std::wstring& name, const std::vector<std::uint8_t>& bytes) {
    const HANDLE out = CreateFileW((directory_ + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    names_.push_back(name);
    DWORD written = 0;
    const bool ok =
        GetFileType(out) == FILE_TYPE_DISK &&
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    CloseHandle(out);
    return ok;
  }

 private:
  std::wstring directory_;
  std::vector<std::wstring> names_;
};

// Names that arrive from other systems, archives and copies. Windows 10 and
// older (and Wine) read such a name, with any extension, as a device:
// COM1.bin as the serial port, AUX.bin as one whose read can wait for ever.
// Each is a dump here, read like any other, and no device is opened.
TEST(EndToEndWin32Test, DumpsNamedLikeDevicesAreReadAsFiles) {
  const ScratchDirectory dir;
  LongFormFiles files(dir.path());
  ExpectedDumps expected;
  for (const std::wstring name : {L"CON.bin", L"PRN.bin", L"AUX.bin", L"NUL.bin", L"COM1.bin",
                                  L"COM9.bin", L"LPT1.bin", L"LPT3.Bin", L"CONIN$.bin",
                                  L"CONOUT$.bin", L"nul.bin.bin", L"COM\u00B9.bin", L"plain.bin"}) {
    ASSERT_TRUE(files.Write(name, Dump())) << std::string(name.begin(), name.end());
    expected[std::u16string(name.begin(), name.end())] = kReadings;
  }
  ExpectReport(RunTool(dir.path()), expected);
}

TEST(EndToEndWin32Test, NamesMatchingOnlyThroughTheirShortAliasAreNotDumps) {
  // Their 8.3 aliases (DATA~1.BIN and the like) end in .BIN.
  const ScratchDirectory dir;
  for (const char* name : {"data.binary", "longfilename.bin2", "Readings.BINX", "plain.bin"})
    fixture::WriteFile(dir.path() / name, Dump());
  ExpectReport(RunTool(dir.path()), {{u"plain.bin", kReadings}});
}

// No standard handles at all, or NUL: a character device that is no
// console, so that the first line tries it as one and the rest go as bytes.
TEST(EndToEndWin32Test, StandardHandlesThatLeadNowhereNeitherStopNorHarmTheRun) {
  const ScratchDirectory dir;
  fixture::WriteFile(dir.path() / "a.bin", Dump());
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE nul =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  for (const HANDLE handle : {HANDLE{nullptr}, nul}) {
    SCOPED_TRACE(handle == nul ? "NUL" : "none");
    const ToolRun run = testing_support::RunToolWithHandles(dir.path(), handle, handle);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0);
  }
  CloseHandle(nul);
  const auto bytes = Dump();
  EXPECT_EQ(fixture::ReadFile(dir.path() / "a.bin"), std::string(bytes.begin(), bytes.end()));
}

TEST(EndToEndWin32Test, AReaderThatLeavesEarlyNeitherStopsNorHarmsTheRun) {
  const ScratchDirectory dir;
  for (int k = 0; k < 400; ++k) {
    fixture::WriteFile(dir.path() / ("dump" + std::to_string(k) + ".bin"), Dump());
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  // Takes the first byte and goes; later writes find no reader and fail.
  std::thread reader([read_end] {
    char first = 0;
    DWORD got = 0;
    ReadFile(read_end, &first, 1, &got, nullptr);
    CloseHandle(read_end);
  });
  const ToolRun run = testing_support::RunToolWithHandles(dir.path(), nullptr, write_end);
  CloseHandle(write_end);  // the reader, if still waiting, now sees the end
  reader.join();
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
}

// A parent that reads the output only after the tool has ended, a common
// pattern: the tool must end by itself while its report waits in the pipe.
TEST(EndToEndWin32Test, AReaderThatReadsOnlyAfterTheEndGetsTheWholeReport) {
  const ScratchDirectory dir;
  ExpectedDumps expected;
  for (int k = 0; k < 5; ++k) {
    const std::string name = "dump" + std::to_string(k) + ".bin";
    fixture::WriteFile(dir.path() / name, Dump());
    expected[std::u16string(name.begin(), name.end())] = kReadings;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  // Room for the whole report (about 2 KB) and more.
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 1 << 16));
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  ToolRun run = testing_support::RunToolWithHandles(dir.path(), nullptr, write_end, 10'000);
  CloseHandle(write_end);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    run.output.append(buffer, got);
  }
  CloseHandle(read_end);
  ExpectReport(run, expected);
}

}  // namespace
}  // namespace dumpscan
