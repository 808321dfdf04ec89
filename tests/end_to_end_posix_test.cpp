// End-to-end cases only POSIX can set up: special files, raw-byte names,
// advisory locks, links, and odd working directories and standard streams.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <span>
#include <thread>

#include "engine/utf.h"
#include "tests/dump_fixture.h"
#include "tests/end_to_end_support.h"
#include "tests/fifo_writer_posix.h"
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

// Opening a FIFO for reading, even without blocking, would release a writer
// waiting in its open, and its bytes would be lost unread.
TEST(EndToEndPosixTest, AFifoWhoseWriterWaitsIsNeverOpenedNorReleased) {
  const ScratchDirectory dir;
  const testing_support::WaitingFifoWriter writer(dir.path() / "pipe.bin");
  ASSERT_TRUE(writer.Waiting());
  fs::create_symlink("pipe.bin", dir.path() / "to-pipe.bin");
  fixture::WriteFile(dir.path() / "real.bin", Dump());
  ExpectReport(RunTool(dir.path()),
               {{u"pipe.bin", {}}, {u"to-pipe.bin", {}}, {u"real.bin", kReadings}});
  EXPECT_TRUE(writer.StillWaiting());
}

TEST(EndToEndPosixTest, NamesAreReadByTheirBytesAndShownSafely) {
  // Control characters hide anywhere in otherwise plain names: C0, DEL,
  // C1 as UTF-8 and as a bare byte.
  const struct {
    const char* bytes;
    std::u16string_view shown;
  } names[] = {
      {"\xFF\xFE.bin", u"\uFFFD\uFFFD.bin"},
      {"a\x1B[2J\r\n.bin", u"a\uFFFD[2J\uFFFD\uFFFD.bin"},
      {"plain\x7F.bin", u"plain\uFFFD.bin"},
      {"\x01start.bin", u"\uFFFDstart.bin"},
      {"next\xC2\x85line.bin", u"next\uFFFDline.bin"},
      {"csi\302\2332J.bin", u"csi\uFFFD2J.bin"},
      {"bare\x9B.bin", u"bare\uFFFD.bin"},
      {"apc\xC2\x9F.bin", u"apc\uFFFD.bin"},
      {"caf\xC3\xA9 ~ ok.bin", u"caf\u00E9 ~ ok.bin"},
  };
  const ScratchDirectory dir;
  ExpectedDumps expected;
  for (const auto& name : names) {
    fixture::WriteFile(dir.path() / name.bytes, Dump());
    expected[std::u16string(name.shown)] = kReadings;
  }
  ExpectReport(RunTool(dir.path()), expected);
}

// Read-only dumps in a read-only directory, read by a user who may write
// nothing there: the tool asks for no more than reading. (As root every
// open would succeed, so the run drops to an unprivileged user.)
TEST(EndToEndPosixTest, ReadOnlyDumpsAreReadByAnyUser) {
  const ScratchDirectory dir;
  const fs::path dumps = dir.path() / "media";
  fs::create_directory(dumps);
  fixture::WriteFile(dumps / "locked-down.bin", Dump());
  fs::permissions(dumps / "locked-down.bin", fs::perms(0444));
  fs::permissions(dumps, fs::perms(0555));
  fs::permissions(dir.path(), fs::perms(0755));
  const ToolRun run = testing_support::RunToolAsAnotherUser(dumps);
  fs::permissions(dumps, fs::perms(0755));
  ExpectReport(run, {{u"locked-down.bin", kReadings}});
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

// Samba and the kernel's NFS server hold write leases for their clients. An
// open of a leased file waits until the holder gives the lease up, or until
// the kernel takes it away (lease-break-time, 45 seconds by default); the
// tool's open never waits, so the dump is skipped at once, like a locked one.
TEST(EndToEndPosixTest, ADumpUnderAWriteLeaseIsSkippedAtOnce) {
  const ScratchDirectory dir;
  fixture::WriteFile(dir.path() / "leased.bin", Dump());
  fixture::WriteFile(dir.path() / "free.bin", Dump());
  // The holder hears of a break through SIGIO, which would end this process.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGIO, &ignore, &previous), 0);
  // A write lease is granted only while the holder's is the file's one open.
  const int fd = open((dir.path() / "leased.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fcntl(fd, F_SETLEASE, F_WRLCK), 0) << std::strerror(errno);
  const auto start = std::chrono::steady_clock::now();
  const ToolRun run = RunTool(dir.path());
  const auto took = std::chrono::steady_clock::now() - start;
  // An open of the file by the tool started a break: the lease is being
  // taken down to a read lease.
  const int lease = fcntl(fd, F_GETLEASE);
  fcntl(fd, F_SETLEASE, F_UNLCK);
  close(fd);
  sigaction(SIGIO, &previous, nullptr);
  ExpectReport(run, {{u"leased.bin", {}}, {u"free.bin", kReadings}});
  EXPECT_EQ(lease, F_RDLCK) << "the tool never tried to open the leased dump";
  EXPECT_LT(took, std::chrono::seconds(10)) << "the tool waited for the lease to be broken";
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

// A user who may read the working directory but not search its parent (a
// parent of mode 0700 after sudo -u) still has every dump read. Under root
// the tool runs as nobody; otherwise the parent is closed to its owner.
TEST(EndToEndPosixTest, AWorkingDirectoryUnderAnUnsearchableParentIsScanned) {
  const ScratchDirectory dir;
  const fs::path parent = dir.path() / "private";
  const fs::path work = parent / "work";
  fs::create_directories(work);
  fixture::WriteFile(work / "a.bin", Dump());
  fs::permissions(work, fs::perms(0755));
  fs::permissions(work / "a.bin", fs::perms(0644));
  fs::permissions(parent, fs::perms::owner_all);
  const bool root = geteuid() == 0;
  const ToolRun run = testing_support::RunToolAsAnotherUser(work, [root] {
    if (!root && chmod("..", S_IRUSR | S_IWUSR) != 0) _exit(126);
  });
  fs::permissions(parent, fs::perms::owner_all);
  ExpectReport(run, {{u"a.bin", kReadings}});
}

// Builds `depth` nested directories with long names below `root` and puts a
// dump at the bottom; returns the names, top first.
std::vector<std::string> MakeDeepTree(const fs::path& root, int depth) {
  std::vector<std::string> names;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < depth; ++level) {
    names.emplace_back(200, static_cast<char>('a' + level % 26));
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
  for (const auto& name : names)
    fds.push_back(openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
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

// Some parents hand over a pipe in non-blocking mode and read it late: the
// report must arrive whole, and the tool must still wait for its line.
TEST(EndToEndPosixTest, NonBlockingStreamsLoseNoOutputAndStillWaitForALine) {
  const ScratchDirectory dir;
  ExpectedDumps expected;
  for (int k = 0; k < 100; ++k) {
    const std::string name = "dump" + std::to_string(k) + ".bin";
    fixture::WriteFile(dir.path() / name, Dump());
    expected[Utf8ToUtf16(name)] = kReadings;
  }
  int out[2];
  int in[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  // The smallest pipe: the report (about 40 KB) fills it ten times over.
  fcntl(out[0], F_SETPIPE_SZ, 4096);
  const int capacity = fcntl(out[0], F_GETPIPE_SZ);
  ASSERT_EQ(fcntl(out[1], F_SETFL, O_NONBLOCK), 0);
  ASSERT_EQ(fcntl(in[0], F_SETFL, O_NONBLOCK), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    testing_support::ExecTool();
  }
  close(out[1]);
  close(in[0]);
  auto ended = [pid] {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
  };
  // Read late: once the pipe has no room for another report line (about
  // 200 bytes) and the tool has had time to find so, or once it has ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int queued = 0;
       queued < capacity - 256 && !ended() && std::chrono::steady_clock::now() < deadline;
       ioctl(out[0], FIONREAD, &queued)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Reads until `done`, the end of the output, or 5 seconds without a byte.
  std::string output;
  auto read_output = [&](auto done) {
    char buffer[4096];
    pollfd ready{out[0], POLLIN, 0};
    while (!done() && poll(&ready, 1, 5000) > 0) {
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) return;
      output.append(buffer, static_cast<std::size_t>(n));
    }
  };
  const std::string prompt = fixture::Utf16LeLines({u"Press ENTER"});
  read_output([&] { return output.ends_with(prompt); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(ended()) << "ended without waiting for a line";
  EXPECT_EQ(write(in[1], "\n\0", 2), 2);
  close(in[1]);
  read_output([] { return false; });
  close(out[0]);
  ToolRun run = testing_support::WaitForTool(pid);
  run.output = output;
  ExpectReport(run, expected);
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

// The report lines are written out here from the numbers stored, not asked
// of the decoders under test.
std::u16string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text;
  for (const std::uint8_t b : bytes) text += {kDigits[b >> 4], kDigits[b & 0xF], u' '};
  return text;
}

std::u16string Decimal(std::uint32_t value) { return Utf8ToUtf16(std::to_string(value)); }

TEST(EndToEndPosixTest, TenThousandDumpsAreReportedExactlyAndLeftUntouched) {
  const ScratchDirectory dir;
  ExpectedDumps expected;
  for (int k = 0; k < 10000; ++k) {
    const auto distance = static_cast<std::uint32_t>(2 + 837 * k);
    // Below 13,107,200 hundredths (2^17 km) the single-precision value is
    // within 1/256 of the count, so its text rounded to hundredths is the
    // count's own digits.
    const auto count = static_cast<std::uint32_t>(k) * 1309u + 13u;
    auto block = fixture::EncodeRecordBlock(distance);
    const bool parity_error = k % 7 == 0;
    if (parity_error) block[3] ^= 0x80;
    const auto word = fixture::EncodeCounterWord(count);
    fixture::WriteFile(dir.path() / DumpName(k), fixture::MakeDump(block, word));
    const std::u16string cents = Decimal(count % 100);
    expected[Utf8ToUtf16(DumpName(k))] = {
        u"0x774: " + HexBytes(block) +
            (parity_error ? u"--> Crc And/Or Parity Error"
                          : u"--> " + Decimal(distance) + u" km --> CRC/Parity OK"),
        u"0x788: " + HexBytes(word) + u"--> " + Decimal(count / 100) + u"." +
            (cents.size() == 1 ? u"0" : u"") + cents + u" km  --> CRC OK"};
  }
  const auto before = Snapshot(dir.path());
  const ToolRun run = RunTool(dir.path());
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  // A failure names the first line that differs: a diff of 3 MB of lines
  // would take minutes.
  const std::string want = testing_support::ExpectedOutput(expected, run.output);
  const auto [got_at, want_at] =
      std::mismatch(run.output.begin(), run.output.end(), want.begin(), want.end());
  if (got_at != run.output.end() || want_at != want.end()) {
    const auto line = [](const std::string& bytes, std::size_t at) {
      std::size_t start = bytes.rfind(std::string("\n\0", 2), at - at % 2);
      start = start == std::string::npos ? 0 : start + 2;
      std::string text;
      for (std::size_t k = start; k + 1 < bytes.size() && bytes[k] != '\r'; k += 2)
        text += bytes[k];
      return text;
    };
    const auto at = static_cast<std::size_t>(got_at - run.output.begin());
    ADD_FAILURE() << "first difference at byte " << at << "\n  printed:  " << line(run.output, at)
                  << "\n  expected: " << line(want, at);
  }
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
