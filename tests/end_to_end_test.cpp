// The built tool run in directories of generated dumps, its redirected
// output compared byte for byte. These expectations hold on every platform.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "tests/dump_fixture.h"
#include "tests/end_to_end_support.h"

namespace dumpscan {
namespace {

namespace fs = std::filesystem;
using fixture::EncodeCounterWord;
using fixture::EncodeRecordBlock;
using fixture::MakeDump;
using testing_support::ExpectedDumps;
using testing_support::kExampleReadings;
using testing_support::RunTool;
using testing_support::ScratchDirectory;

void WriteDump(const fs::path& path, std::size_t size = 2048) {
  fixture::WriteFile(path, testing_support::ExampleDump(size));
}

void ExpectReport(const fs::path& directory, const ExpectedDumps& dumps) {
  testing_support::ExpectReport(RunTool(directory), dumps);
}

TEST(EndToEndTest, EmptyDirectoryPrintsOnlyThePrompt) {
  const ScratchDirectory dir;
  const auto run = RunTool(dir.path());
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, std::string("P\0r\0e\0s\0s\0 \0E\0N\0T\0E\0R\0\r\0\n\0", 26));
}

TEST(EndToEndTest, OneDumpGivesItsNameBothReadingsAndAnEmptyLine) {
  const ScratchDirectory dir;
  WriteDump(dir.path() / "a.bin");
  const auto run = RunTool(dir.path(), "typed line\r\n");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, fixture::Utf16LeLines({u"a.bin", kExampleReadings[0], kExampleReadings[1],
                                               u"", u"Press ENTER"}));
}

TEST(EndToEndTest, FileSizeDecidesWhichReadingsAppear) {
  const ScratchDirectory dir;
  ExpectedDumps expected;
  for (const std::size_t size :
       std::initializer_list<std::size_t>{0, 1, 1907, 1908, 1927, 1928, 1931, 1932, 65536}) {
    const std::string file = "size" + std::to_string(size) + ".bin";
    WriteDump(dir.path() / file, size);
    std::vector<std::u16string> lines;
    if (size >= 1928) lines.push_back(kExampleReadings[0]);
    if (size >= 1932) lines.push_back(kExampleReadings[1]);
    expected[std::u16string(file.begin(), file.end())] = lines;
  }
  ExpectReport(dir.path(), expected);
}

// A dump over 4 GiB beside a small one: a 32-bit build without 64-bit file
// sizes, offsets and inode numbers lists neither. The large one is sparse
// (its head holds the readings, the rest is zeros never written), so the
// test takes next to no disk space and time.
TEST(EndToEndTest, AFiveGibibyteDumpIsReadLikeAnyOther) {
  const ScratchDirectory dir;
  constexpr std::uint64_t kMebibyte = std::uint64_t{1} << 20;
  // Some file systems (FAT) keep no holes: the test is not for them.
  const std::uint64_t probe =
      fixture::WriteSparseFile(dir.path() / "probe.dat", {1}, 64 * kMebibyte);
  ASSERT_NE(probe, UINT64_MAX);
  if (probe >= kMebibyte) GTEST_SKIP() << "no sparse files where the test writes";
  fs::remove(dir.path() / "probe.dat");

  std::vector<std::uint8_t> head(1932, 0);
  const auto block = EncodeRecordBlock(123456);
  const auto word = EncodeCounterWord(12345600);
  std::copy(block.begin(), block.end(), head.begin() + 1908);
  std::copy(word.begin(), word.end(), head.begin() + 1928);
  const std::uint64_t used =
      fixture::WriteSparseFile(dir.path() / "large.bin", head, std::uint64_t{5} << 30);
  ASSERT_NE(used, UINT64_MAX) << "the 5 GiB dump could not be made";
  ASSERT_LT(used, kMebibyte) << "the 5 GiB dump was written out on the disk";
  ASSERT_EQ(fs::file_size(dir.path() / "large.bin"), std::uint64_t{5} << 30);
  WriteDump(dir.path() / "small.bin");
  ExpectReport(dir.path(), {{u"large.bin", kExampleReadings}, {u"small.bin", kExampleReadings}});
}

TEST(EndToEndTest, NamesMatchByExtensionInAnyLetterCase) {
  const ScratchDirectory dir;
  for (const char* name : {"UPPER.BIN", "Dump.Bin", "lower.bin", "x.bin.txt", "xbin", "notes.txt"})
    WriteDump(dir.path() / name);
  const std::vector<std::u16string>& lines = kExampleReadings;
  ExpectReport(dir.path(), {{u"UPPER.BIN", lines}, {u"Dump.Bin", lines}, {u"lower.bin", lines}});
}

TEST(EndToEndTest, EntriesThatCannotBeOpenedShowOnlyTheirName) {
  const ScratchDirectory dir;
  fs::create_directory(dir.path() / "old.bin");
  WriteDump(dir.path() / "old.bin" / "inner.bin");
  ExpectReport(dir.path(), {{u"old.bin", {}}});
}

TEST(EndToEndTest, VerdictsFollowTheChecks) {
  const ScratchDirectory dir;
  auto bad_parity = EncodeRecordBlock(32775);
  bad_parity[11] = 0x05;
  auto bad_checksum = EncodeCounterWord(1234567);
  bad_checksum[3] ^= 0x01;
  std::array<std::uint8_t, 20> erased;
  erased.fill(0xFF);
  fixture::WriteFile(dir.path() / "parity.bin", MakeDump(bad_parity, EncodeCounterWord(1234567)));
  fixture::WriteFile(dir.path() / "checksum.bin", MakeDump(EncodeRecordBlock(2), bad_checksum));
  fixture::WriteFile(dir.path() / "erased.bin", MakeDump(erased, {0xFF, 0xFF, 0xFF, 0xFF}));
  ExpectReport(dir.path(), {{u"parity.bin",
                             {u"0x774: 10 0B F0 85 10 0B F0 85 10 0B F0 05 10 0B F0 85 10 0B F0 85 "
                              u"--> Crc And/Or Parity Error",
                              u"0x788: 10 12 D6 87 --> 12345.67 km  --> CRC OK"}},
                            {u"checksum.bin",
                             {u"0x774: 00 06 F0 80 00 06 F0 80 00 06 F0 80 00 06 F0 80 00 06 F0 80 "
                              u"--> 2 km --> CRC/Parity OK",
                              u"0x788: 10 12 D6 86 --> Crc And/Or Parity Error"}},
                            {u"erased.bin",
                             {u"0x774: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF "
                              u"--> Crc And/Or Parity Error",
                              u"0x788: FF FF FF FF --> 2684354.50 km  --> CRC OK"}}});
}

TEST(EndToEndTest, NonAsciiNamesAreShownAsTheyAre) {
  const ScratchDirectory dir;
  WriteDump(dir.path() / fs::path(u8"\u00FCber.bin"));
  WriteDump(dir.path() / fs::path(u8"\u65E5\u672C.BIN"));
  const std::vector<std::u16string>& lines = kExampleReadings;
  ExpectReport(dir.path(), {{u"\u00FCber.bin", lines}, {u"\u65E5\u672C.BIN", lines}});
}

}  // namespace
}  // namespace dumpscan
