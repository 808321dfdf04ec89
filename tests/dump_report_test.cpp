#include "engine/dump_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/dump_facts.h"
#include "tests/dump_fixture.h"

// Every allocation of this test program is counted, so that a test can show
// that a piece of code allocates nothing.
namespace {
std::atomic<unsigned long> g_allocations{0};
}  // namespace

// Neither is inlined: GCC would otherwise see free() given memory from
// `new` and reject it as a mismatched pair.
[[gnu::noinline]] void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t /*size*/) noexcept { std::free(p); }

namespace dumpscan {
namespace {

using Bytes = std::array<std::uint8_t, kDumpBytesSize>;
using Bytes20 = std::array<std::uint8_t, kRecordBlockSize>;

Bytes DumpBytes(const std::array<std::uint8_t, 20>& block,
                const std::array<std::uint8_t, 4>& word) {
  Bytes bytes{};
  std::copy(block.begin(), block.end(), bytes.begin());
  std::copy(word.begin(), word.end(), bytes.begin() + 20);
  return bytes;
}

struct Line {
  std::u16string text;
  LineVerdict verdict;
};

std::vector<Line> Lines(const DumpBlock& block) {
  std::vector<Line> lines;
  for (std::size_t i = 0; i < block.line_count; ++i)
    lines.push_back({std::u16string(LineText(block, i)), block.lines[i].verdict});
  return lines;
}

void ExpectLines(const DumpBlock& block, const std::vector<Line>& expected) {
  const std::vector<Line> lines = Lines(block);
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, expected[i].text) << "line " << i;
    EXPECT_EQ(lines[i].verdict, expected[i].verdict) << "line " << i;
  }
}

const Line kName{u"a.bin", LineVerdict::kNone};
const Line kEmpty{u"", LineVerdict::kNone};
const Line kBrokenRecordLine{
    u"0x774: 3C 49 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E "
    u"--> Crc And/Or Parity Error",
    LineVerdict::kCheckFailed};
const Line kCounterLine{u"0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK", LineVerdict::kOk};

struct BlockCase {
  std::size_t got;
  std::vector<Line> lines;
};

class DescribeDumpTest : public testing::TestWithParam<BlockCase> {};

// The bytes a dump's read gave, as many as arrived: the record block breaks
// its checksum, the counter word is valid.
TEST_P(DescribeDumpTest, LinesFollowHowManyBytesArrived) {
  auto record_block = fixture::EncodeRecordBlock(123456);
  record_block[1] ^= 0x01;
  const Bytes bytes = DumpBytes(record_block, fixture::EncodeCounterWord(12345600));
  DumpBlock block;
  DescribeDump(u"a.bin", bytes, GetParam().got, block);
  ExpectLines(block, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescribeDumpTest,
    testing::Values(BlockCase{0, {kName, kEmpty}}, BlockCase{19, {kName, kEmpty}},
                    BlockCase{20, {kName, kBrokenRecordLine, kEmpty}},
                    BlockCase{23, {kName, kBrokenRecordLine, kEmpty}},
                    BlockCase{24, {kName, kBrokenRecordLine, kCounterLine, kEmpty}},
                    BlockCase{1000, {kName, kBrokenRecordLine, kCounterLine, kEmpty}}));

// Each line's verdict is its own, and a block described again over a longer
// one keeps nothing of it: the scan and the page reuse one block for all dumps.
TEST(DescribeDumpTest, ReusedBlockHoldsOnlyTheLastDump) {
  auto word = fixture::EncodeCounterWord(12345600);
  word[0] ^= 0x10;
  DumpBlock block;
  DescribeDump(u"a-much-longer-name-than-the-next.bin",
               DumpBytes(fixture::EncodeRecordBlock(123456), word), 24, block);
  ExpectLines(block,
              {{u"a-much-longer-name-than-the-next.bin", LineVerdict::kNone},
               {u"0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E "
                u"--> 123456 km --> CRC/Parity OK",
                LineVerdict::kOk},
               {u"0x788: B0 BC 61 00 --> Crc And/Or Parity Error", LineVerdict::kCheckFailed},
               kEmpty});
  DescribeDump(u"a.bin", Bytes{}, 0, block);
  ExpectLines(block, {kName, kEmpty});
}

// A report line's verdict agrees with its text for every kind of block
// (the two come from one decode).
TEST(DescribeDumpTest, VerdictMatchesTheText) {
  std::array<std::array<std::uint8_t, 20>, 3> record_blocks = {
      fixture::EncodeRecordBlock(2), fixture::EncodeRecordBlock(8388609), {}};
  std::array<std::array<std::uint8_t, 4>, 3> words = {
      fixture::EncodeCounterWord(0), std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}, {}};
  DumpBlock block;
  for (const auto& record_block : record_blocks) {
    for (const auto& word : words) {
      DescribeDump(u"x.bin", DumpBytes(record_block, word), kDumpBytesSize, block);
      ASSERT_EQ(block.line_count, 4u);
      for (std::size_t i : {1u, 2u}) {
        const bool error_text = LineText(block, i).ends_with(kCheckErrorVerdict);
        EXPECT_EQ(block.lines[i].verdict, error_text ? LineVerdict::kCheckFailed : LineVerdict::kOk)
            << "line " << i;
      }
    }
  }
}

// The appending forms behind the block keep what the text held, add the
// report after it, and return the decoded value (-1 with the error text):
// the verdict a caller acts on is the one the text shows.
TEST(AppendReportTest, AppendsAfterExistingTextAndReturnsTheVerdict) {
  const std::u16string before = u"earlier line\r\n";
  std::u16string example_dump;
  for (int record = 0; record < 5; ++record) example_dump += u"3C 48 F0 3E ";
  std::u16string zero_dump;
  for (std::size_t byte = 0; byte < kRecordBlockSize; ++byte) zero_dump += u"00 ";
  const Bytes20 example = fixture::EncodeRecordBlock(123456);
  struct RecordCase {
    Bytes20 block;
    std::int32_t verdict;
    std::u16string added;
  };
  for (const RecordCase& c :
       {RecordCase{example, 123456, example_dump + u"--> 123456 km --> CRC/Parity OK"},
        RecordCase{Bytes20{}, -1, zero_dump + std::u16string(kCheckErrorVerdict)}}) {
    std::u16string text = before;
    EXPECT_EQ(AppendRecordBlockReport(c.block, text), c.verdict);
    EXPECT_EQ(text, before + c.added);
  }

  const auto word = fixture::EncodeCounterWord(12345600);
  auto broken_word = word;
  broken_word[3] ^= 0x01;
  struct WordCase {
    std::array<std::uint8_t, 4> word;
    std::int32_t verdict;
    std::u16string_view added_verdict;
  };
  for (const WordCase& c : {WordCase{word, 12345600, u"--> 123456.00 km  --> CRC OK"},
                            WordCase{broken_word, -1, kCheckErrorVerdict}}) {
    std::u16string text = before;
    EXPECT_EQ(AppendCounterWordReport(c.word, text), c.verdict);
    EXPECT_EQ(text, before + FormatByteDump(c.word) + std::u16string(c.added_verdict));
  }
}

// The scan and the page describe every dump into one block: once the block
// has held the longest lines, describing any dump allocates nothing.
TEST(DescribeDumpTest, ReusedBlockAllocatesNothing) {
  const Bytes longest = DumpBytes(fixture::EncodeRecordBlock(8388609),
                                  std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF});
  auto broken_record_block = fixture::EncodeRecordBlock(123456);
  broken_record_block[3] ^= 0x80;
  const std::array<Bytes, 3> dumps = {
      DumpBytes(fixture::EncodeRecordBlock(2), fixture::EncodeCounterWord(0)),
      DumpBytes(broken_record_block, fixture::EncodeCounterWord(13107212)), Bytes{}};
  DumpBlock block;
  DescribeDump(u"dump-0000000.bin", longest, kDumpBytesSize, block);
  const unsigned long before = g_allocations.load();
  for (const Bytes& bytes : dumps) {
    for (const std::size_t got : {std::size_t{0}, kRecordBlockSize, kDumpBytesSize}) {
      DescribeDump(u"dump-0000001.bin", bytes, got, block);
    }
  }
  DescribeDump(u"dump-0000002.bin", longest, kDumpBytesSize, block);
  EXPECT_EQ(g_allocations.load() - before, 0u);
}

// The page asks for a dump's facts when it is opened: that allocates
// nothing, whatever the dump holds.
TEST(DumpFactsTest, AllocatesNothing) {
  auto broken_record_block = fixture::EncodeRecordBlock(123456);
  broken_record_block[3] ^= 0x80;
  const std::array<Bytes, 3> dumps = {
      DumpBytes(fixture::EncodeRecordBlock(8388609), {0xFF, 0xFF, 0xFF, 0xFF}),
      DumpBytes(broken_record_block, fixture::EncodeCounterWord(13107212)), Bytes{}};
  std::uint64_t seen = 0;
  const unsigned long before = g_allocations.load();
  for (const Bytes& bytes : dumps) {
    for (const std::size_t got : {std::size_t{0}, kRecordBlockSize, kDumpBytesSize}) {
      const DumpFacts facts = DumpFactsOf(bytes, got);
      seen += facts.counter_word.kilometres_text.length + facts.record_block.records[0].distance;
    }
  }
  EXPECT_EQ(g_allocations.load() - before, 0u);
  EXPECT_GT(seen, 0u);
}

}  // namespace
}  // namespace dumpscan
