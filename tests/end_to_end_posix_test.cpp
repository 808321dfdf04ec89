// End-to-end cases only POSIX can set up: special files, raw-byte names,
// advisory locks, links, and odd working directories and standard streams.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "console/utf.h"
#include "scanner/counter_word.h"
#include "scanner/record_block.h"

#include "tests/dump_fixture.h"
#include "tests/end_to_end_support.h"
#include "tests/run_tool_posix.h"

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

TEST(EndToEndPosixTest, SpecialFilesNamedLikeDumpsShowOnlyTheirNameAndNeverBlock) {
  const ScratchDirectory dir;
  ASSERT_EQ(mkfifo((dir.path() / "pipe.bin").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir.path() / "zero.bin");
  fs::create_symlink("missing.dat", dir.path() / "dangling.bin");
  fs::create_symlink("loop.bin", dir.path() / "loop.bin");
  fixture::WriteFile(dir.path() / "real.dat", Dump());
  fs::create_symlink("real.dat", dir.path() / "link.bin");
  ExpectReport(RunTool(dir.path()), {{u"pipe.bin", {}},
                                     {u"zero.bin", {}},
                                     {u"dangling.bin", {}},
                                     {u"loop.bin", {}},
                                     {u"link.bin", kReadings}});
}

TEST(EndToEndPosixTest, NamesAreReadByTheirBytesAndShownSafely) {
  const ScratchDirectory dir;
  fixture::WriteFile(dir.path() / "\xFF\xFE.bin", Dump());
  fixture::WriteFile(dir.path() / "a\x1B[2J\r\n.bin", Dump());
  ExpectReport(RunTool(dir.path()), {{u"\uFFFD\uFFFD.bin", kReadings},
                                     {u"a\uFFFD[2J\uFFFD\uFFFD.bin", kReadings}});
}

TEST(EndToEndPosixTest, AFileLockedByAnotherProcessIsNeverRead) {
  for (const int mode : {LOCK_SH, LOCK_EX}) {
    const ScratchDirectory dir;
    fixture::WriteFile(dir.path() / "held.bin", Dump());
    fixture::WriteFile(dir.path() / "free.bin", Dump());
    const int fd = open((dir.path() / "held.bin").c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, mode), 0);
    ExpectReport(RunTool(dir.path()), {{u"held.bin", {}}, {u"free.bin", kReadings}});
    close(fd);
  }
}

TEST(EndToEndPosixTest, ADeletedWorkingDirectoryGivesOnlyThePrompt) {
  const ScratchDirectory dir;
  const fs::path gone = dir.path() / "gone";
  fs::create_directory(gone);
  const ScratchDirectory streams;
  const auto out = streams.path() / "out";
  ToolRun run = testing_support::RunToolAfter([&] {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) _exit(126);
    dup2(fd, STDOUT_FILENO);
    close(STDIN_FILENO);
  });
  run.output = fixture::ReadFile(out);
  ExpectReport(run, {});
}

// Builds `depth` nested directories with long names below `root` and puts a
// dump at the bottom; returns the names, top first.
std::vector<std::string> MakeDeepTree(const fs::path& root, int depth) {
  std::vector<std::string> names;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < depth; ++level) {
    names.push_back(std::string(200, static_cast<char>('a' + level % 26)));
    mkdirat(fd, names.back().c_str(), 0700);
    const int next = openat(fd, names.back().c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  const int file = openat(fd, "deep.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const auto bytes = Dump();
  EXPECT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(file);
  close(fd);
  return names;
}

void RemoveDeepTree(const fs::path& root, const std::vector<std::string>& names) {
  std::vector<int> fds = {open(root.c_str(), O_RDONLY | O_DIRECTORY)};
  for (const auto& name : names) fds.push_back(openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
  unlinkat(fds.back(), "deep.bin", 0);
  for (std::size_t k = names.size(); k-- > 0;) {
    close(fds[k + 1]);
    unlinkat(fds[k], names[k].c_str(), AT_REMOVEDIR);
  }
  close(fds[0]);
}

TEST(EndToEndPosixTest, AWorkingDirectoryDeeperThanAnyPathLimitIsScanned) {
  const ScratchDirectory dir;
  const auto names = MakeDeepTree(dir.path(), 30);  // about 6,000 characters deep
  const ScratchDirectory streams;
  const auto out = streams.path() / "out";
  ToolRun run = testing_support::RunToolAfter([&] {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || chdir(dir.path().c_str()) != 0) _exit(126);
    for (const auto& name : names) {
      if (chdir(name.c_str()) != 0) _exit(126);
    }
    dup2(fd, STDOUT_FILENO);
    close(STDIN_FILENO);
  });
  run.output = fixture::ReadFile(out);
  RemoveDeepTree(dir.path(), names);
  ExpectReport(run, {{u"deep.bin", kReadings}});
}

TEST(EndToEndPosixTest, ClosedStreamsNeitherStopNorHarmTheRun) {
  const ScratchDirectory dir;
  for (int k = 0; k < 400; ++k) {
    fixture::WriteFile(dir.path() / ("dump" + std::to_string(k) + ".bin"), Dump());
  }
  // A reader that leaves after the first byte: later writes fail quietly.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipe_fds[0]);
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(STDIN_FILENO);
    testing_support::ExecTool();
  }
  close(pipe_fds[1]);
  char first;
  EXPECT_EQ(read(pipe_fds[0], &first, 1), 1);
  close(pipe_fds[0]);
  const ToolRun piped = testing_support::WaitForTool(pid);
  EXPECT_TRUE(piped.finished);
  EXPECT_EQ(piped.exit_code, 0);

  // No standard streams at all: nothing may be written into a dump.
  const ToolRun closed = testing_support::RunToolAfter([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
  });
  EXPECT_TRUE(closed.finished);
  EXPECT_EQ(closed.exit_code, 0);
  const auto bytes = Dump();
  for (int k = 0; k < 400; ++k) {
    const auto content = fixture::ReadFile(dir.path() / ("dump" + std::to_string(k) + ".bin"));
    ASSERT_EQ(content, std::string(bytes.begin(), bytes.end())) << k;
  }
}

// Every name and every byte in the directory, to show a run changed nothing.
std::map<std::string, std::string> Snapshot(const fs::path& directory) {
  std::map<std::string, std::string> contents;
  for (const auto& item : fs::directory_iterator(directory)) {
    contents[item.path().filename().string()] =
        item.is_regular_file() ? fixture::ReadFile(item.path()) : std::string("(not a file)");
  }
  return contents;
}

std::string DumpName(int k) { return "dump" + std::to_string(k) + ".bin"; }

TEST(EndToEndPosixTest, TenThousandDumpsAreReportedExactlyAndLeftUntouched) {
  const ScratchDirectory dir;
  ExpectedDumps expected;
  for (int k = 0; k < 10000; ++k) {
    const auto distance = static_cast<std::uint32_t>(2 + 837 * k);
    const auto count = static_cast<std::uint32_t>(k) * 26843u;
    auto block = fixture::EncodeRecordBlock(distance);
    if (k % 7 == 0) block[3] ^= 0x80;  // some with a parity error
    fixture::WriteFile(dir.path() / DumpName(k), fixture::MakeDump(block, fixture::EncodeCounterWord(count)));
    expected[Utf8ToUtf16(DumpName(k))] = {
        u"0x774: " + DescribeRecordBlock(block),
        u"0x788: " + DescribeCounterWord(fixture::EncodeCounterWord(count))};
  }
  const auto before = Snapshot(dir.path());
  ExpectReport(RunTool(dir.path()), expected);
  EXPECT_TRUE(Snapshot(dir.path()) == before);
}

TEST(EndToEndPosixTest, DumpsVanishingDuringTheScanNeverStallOrGarbleIt) {
  const ScratchDirectory dir;
  const auto bytes = Dump();
  for (int k = 0; k < 3000; ++k) fixture::WriteFile(dir.path() / DumpName(k), bytes);
  std::thread remover([&] {
    for (int k = 2999; k >= 0; --k) fs::remove(dir.path() / DumpName(k));
  });
  const ToolRun run = RunTool(dir.path());
  remover.join();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  // Whatever the race gave, each listed dump shows both readings or none.
  std::u16string text;
  for (std::size_t k = 0; k + 1 < run.output.size(); k += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(run.output[k]) |
                                  (static_cast<unsigned char>(run.output[k + 1]) << 8));
  }
  const std::u16string full = kReadings[0] + u"\r\n" + kReadings[1] + u"\r\n";
  std::size_t at = 0;
  while (text.compare(at, 13, u"Press ENTER\r\n") != 0) {
    const std::size_t name_end = text.find(u"\r\n", at);
    ASSERT_NE(name_end, std::u16string::npos);
    ASSERT_EQ(text.compare(at, 4, u"dump"), 0) << "garbled at unit " << at;
    at = name_end + 2;
    if (text.compare(at, full.size(), full) == 0) at += full.size();
    ASSERT_EQ(text.compare(at, 2, u"\r\n"), 0) << "garbled at unit " << at;
    at += 2;
  }
  EXPECT_EQ(at + 13, text.size());
}

}  // namespace
}  // namespace dumpscan
