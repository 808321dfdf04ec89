#include "engine/dump_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "tests/dump_fixture.h"

namespace dumpscan {
namespace {

using Block = std::array<std::uint8_t, kRecordBlockSize>;
using Word = std::array<std::uint8_t, kCounterWordSize>;
using Bytes = std::array<std::uint8_t, kDumpBytesSize>;
using Record = std::array<std::uint8_t, 4>;

Bytes DumpBytes(const Block& block, const Word& word) {
  Bytes bytes{};
  std::copy(block.begin(), block.end(), bytes.begin());
  std::copy(word.begin(), word.end(), bytes.begin() + kRecordBlockSize);
  return bytes;
}

Block WithRecord(Block block, std::size_t i, Record record) {
  std::copy(record.begin(), record.end(), block.begin() + static_cast<std::ptrdiff_t>(4 * i));
  return block;
}

// A record's facts worked out by hand from its four bytes, its verdicts
// among them.
struct ExpectedRecord {
  Record bytes;
  std::uint16_t value;
  std::uint8_t stored_check;
  std::uint8_t value_check;
  bool odd_parity;
  std::uint8_t steps;
  std::uint32_t distance;
  bool checksum_passes;
  bool parity_passes;
  bool passes;
};

// 3C 48 F0 3E: V = 0x3C4 (the high nibble of b2 inverted is 0), check
// nibble 8, step byte 3E with five set bits, S = 0x3E + 1.
constexpr ExpectedRecord k123456{
    {0x3C, 0x48, 0xF0, 0x3E}, 964, 8, 8, true, 63, 123456, true, true, true};
// Its check nibble changed: the value still gives 8.
constexpr ExpectedRecord k123456BadCheck{
    {0x3C, 0x49, 0xF0, 0x3E}, 964, 9, 8, true, 63, 123456, false, true, false};
// Its step byte's top bit changed: even parity, the same step count.
constexpr ExpectedRecord k123456BadParity{
    {0x3C, 0x48, 0xF0, 0xBE}, 964, 8, 8, false, 63, 123456, true, false, false};
constexpr ExpectedRecord k123456BadBoth{
    {0x3C, 0x49, 0xF0, 0xBE}, 964, 9, 8, false, 63, 123456, false, false, false};
// 10 0B F0 85: V = 0x100, check B, step byte 85 (three bits), S = 6.
constexpr ExpectedRecord k32775{
    {0x10, 0x0B, 0xF0, 0x85}, 256, 0xB, 0xB, true, 6, 32775, true, true, true};
constexpr ExpectedRecord k32775EvenStep{
    {0x10, 0x0B, 0xF0, 0x05}, 256, 0xB, 0xB, false, 6, 32775, true, false, false};
// 10 1C F0 85: V = 0x101, check C: one unit of V (128 km) more.
constexpr ExpectedRecord k32903{
    {0x10, 0x1C, 0xF0, 0x85}, 257, 0xC, 0xC, true, 6, 32903, true, true, true};
// 00 06 F0 80: V = 0, S = 1, the smallest distance.
constexpr ExpectedRecord k2{{0x00, 0x06, 0xF0, 0x80}, 0, 6, 6, true, 1, 2, true, true, true};
// Erased and cleared memory: 00 00 00 00 has V = 0xF000 (checksum 9) and
// an even step byte; FF FF FF FF has V = 0x0FFF (checksum A) and eight bits.
constexpr ExpectedRecord kZeros{{0, 0, 0, 0},      0xF000, 0,     9,    false, 1,
                                128u * 0xF000 + 2, false,  false, false};
constexpr ExpectedRecord kOnes{
    {0xFF, 0xFF, 0xFF, 0xFF}, 0x0FFF, 0xF, 0xA, false, 128, 524289, false, false, false};

struct BlockCase {
  std::string what;
  std::array<ExpectedRecord, kRecordCount> records;
  std::int32_t distance;
  bool records_agree;
};

Block BlockOf(const BlockCase& c) {
  Block block{};
  for (std::size_t i = 0; i < kRecordCount; ++i) block = WithRecord(block, i, c.records[i].bytes);
  return block;
}

std::array<ExpectedRecord, kRecordCount> Five(const ExpectedRecord& record) {
  return {record, record, record, record, record};
}

std::array<ExpectedRecord, kRecordCount> FiveWith(const ExpectedRecord& record, std::size_t i,
                                                  const ExpectedRecord& other) {
  auto records = Five(record);
  records[i] = other;
  return records;
}

std::vector<BlockCase> BlockCases() {
  std::vector<BlockCase> cases = {
      {"valid_sample", Five(k123456), 123456, true},
      {"parity_error_sample", FiveWith(k32775, 2, k32775EvenStep), -1, false},
      {"averaged_sample", FiveWith(k32775, 4, k32903), 32800, false},
      {"short_sample", Five(k2), 2, true},
      {"all_zeros", Five(kZeros), -1, false},
      {"all_ones", Five(kOnes), -1, false},
      {"all_fail_differently",
       {k123456BadCheck, k123456BadParity, k123456BadBoth, kZeros, kOnes},
       -1,
       false},
  };
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    // Appended rather than "literal" + std::string: GCC 12 gives a false
    // -Wrestrict warning for that form when it inlines it (armhf).
    std::string at = "_in_record_";
    at += std::to_string(i + 1);
    cases.push_back({"checksum" + at, FiveWith(k123456, i, k123456BadCheck), -1, false});
    cases.push_back({"parity" + at, FiveWith(k123456, i, k123456BadParity), -1, false});
    cases.push_back({"both" + at, FiveWith(k123456, i, k123456BadBoth), -1, false});
  }
  return cases;
}

class RecordBlockFactsTest : public testing::TestWithParam<BlockCase> {};

TEST_P(RecordBlockFactsTest, MatchesTheHandWorkedFields) {
  const BlockCase& c = GetParam();
  const RecordBlockFacts facts = RecordBlockFactsOf(BlockOf(c));
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    const ExpectedRecord& expected = c.records[i];
    const RecordFacts& record = facts.records[i];
    EXPECT_EQ(record.bytes, expected.bytes);
    EXPECT_EQ(record.value, expected.value);
    EXPECT_EQ(record.stored_check, expected.stored_check);
    EXPECT_EQ(record.value_check, expected.value_check);
    EXPECT_EQ(record.step_byte, expected.bytes[3]);
    EXPECT_EQ(record.odd_parity, expected.odd_parity);
    EXPECT_EQ(record.steps, expected.steps);
    EXPECT_EQ(record.checksum_passes, expected.checksum_passes);
    EXPECT_EQ(record.parity_passes, expected.parity_passes);
    EXPECT_EQ(record.passes, expected.passes);
    EXPECT_EQ(record.distance, expected.distance);
  }
  EXPECT_EQ(facts.distance, c.distance);
  EXPECT_EQ(facts.records_agree, c.records_agree);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordBlockFactsTest, testing::ValuesIn(BlockCases()),
                         [](const testing::TestParamInfo<BlockCase>& param_info) {
                           return param_info.param.what;
                         });

// The records that pass but differ average, as the report does: the block
// gives the mean of the five distances, rounded down.
TEST(RecordBlockFactsTest, DifferentRecordsThatPassAverage) {
  Block block{};
  const std::array<std::uint32_t, kRecordCount> distances = {100, 200, 300, 400, 502};
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    const auto record = fixture::EncodeRecord(distances[i]);
    block = WithRecord(block, i, record);
  }
  const RecordBlockFacts facts = RecordBlockFactsOf(block);
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    EXPECT_TRUE(facts.records[i].passes);
    EXPECT_EQ(facts.records[i].distance, distances[i]);
  }
  EXPECT_EQ(facts.distance, 300);  // 1502 / 5 rounded down
  EXPECT_FALSE(facts.records_agree);
}

// The kilometres are the float nearest to count / 100, written as its
// decimal literal; the text is the report's.
struct WordCase {
  Word bytes;
  std::uint32_t count;
  std::uint8_t stored_check;
  std::uint8_t count_check;
  bool passes;
  float kilometres;
  std::u16string kilometres_text;
};

TEST(CounterWordFactsTest, MatchesTheHandWorkedFields) {
  const std::vector<WordCase> cases = {
      {{0x10, 0x12, 0xD6, 0x87}, 1234567, 1, 1, true, 12345.67f, u"12345.67"},
      {{0xA0, 0xBC, 0x61, 0x00}, 12345600, 0xA, 0xA, true, 123456.0f, u"123456.00"},
      // The averaged sample's word, its check nibble changed from F to E.
      {{0xE0, 0x32, 0x0C, 0x80}, 3280000, 0xE, 0xF, false, 32800.0f, u"32800.00"},
      {{0x00, 0x00, 0x00, 0x00}, 0, 0, 0xF, false, 0.0f, u"0.00"},
      // 2684354.55 is nearer 2684354.5 than 2684354.75, a float's neighbours.
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0x0FFFFFFF, 0xF, 0xF, true, 2684354.5f, u"2684354.50"},
      // 131072.12 is held as 131072.125: a tie, and its text rounds it up.
      {{0x40, 0xC8, 0x00, 0x0C}, 13107212, 4, 4, true, 131072.125f, u"131072.13"},
  };
  for (const WordCase& c : cases) {
    SCOPED_TRACE(c.count);
    const CounterWordFacts facts = CounterWordFactsOf(c.bytes);
    EXPECT_EQ(facts.bytes, c.bytes);
    EXPECT_EQ(facts.count, c.count);
    EXPECT_EQ(facts.stored_check, c.stored_check);
    EXPECT_EQ(facts.count_check, c.count_check);
    EXPECT_EQ(facts.passes, c.passes);
    EXPECT_EQ(facts.kilometres, c.kilometres);
    EXPECT_EQ(facts.kilometres_text.View(), c.kilometres_text);
  }
}

// A form the file is too short for has no facts; the bytes past the end
// are not looked at.
TEST(DumpFactsTest, FormsFollowHowManyBytesArrived) {
  const Bytes bytes = DumpBytes(fixture::EncodeRecordBlock(123456), fixture::EncodeCounterWord(1));
  for (const std::size_t got : {0u, 19u, 20u, 23u, 24u, 1000u}) {
    const DumpFacts facts = DumpFactsOf(bytes, got);
    EXPECT_EQ(facts.has_record_block, got >= 20) << got;
    EXPECT_EQ(facts.has_counter_word, got >= 24) << got;
  }
  EXPECT_EQ(kRecordBlockEnd, 1928u);
  EXPECT_EQ(kCounterWordEnd, 1932u);
}

// Random blocks, most with some records damaged: the facts say what the
// report says. A block passes exactly when all its records pass, with the
// report's distance; the counter word passes exactly when its line says
// CRC OK, with the kilometres the line shows; each record's bytes sit where
// the line shows them.
TEST(DumpFactsTest, AgreeWithTheReport) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::uint32_t> distance(2, 8388609);
  std::uniform_int_distribution<std::uint32_t> count(0, 0x0FFFFFFF);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> damage(0, 5);
  DumpBlock report;
  int passed_blocks = 0;
  int passed_words = 0;
  for (int n = 0; n < 20000; ++n) {
    Bytes bytes{};
    // Five records, each valid for a distance of its own (sometimes all
    // the same), some with a random byte changed.
    const std::uint32_t common = distance(random);
    const bool same = n % 2 == 0;
    std::array<std::uint32_t, kRecordCount> encoded{};
    for (std::size_t i = 0; i < kRecordCount; ++i) {
      encoded[i] = same ? common : distance(random);
      const Record record =
          fixture::EncodeRecord(encoded[i], static_cast<std::uint8_t>(byte(random) & 0xF));
      std::copy(record.begin(), record.end(), bytes.begin() + static_cast<std::ptrdiff_t>(4 * i));
      if (damage(random) == 0)
        bytes[4 * i + static_cast<std::size_t>(byte(random) % 4)] ^=
            static_cast<std::uint8_t>(1u << (byte(random) % 8));
    }
    const Word word = fixture::EncodeCounterWord(count(random));
    std::copy(word.begin(), word.end(), bytes.begin() + kRecordBlockSize);
    if (damage(random) == 0)
      bytes[20 + static_cast<std::size_t>(byte(random) % 4)] ^=
          static_cast<std::uint8_t>(1u << (byte(random) % 8));
    const bool random_bytes = n % 1000 == 0;
    if (random_bytes)
      std::generate(bytes.begin(), bytes.end(),
                    [&] { return static_cast<std::uint8_t>(byte(random)); });

    const DumpFacts facts = DumpFactsOf(bytes, kDumpBytesSize);
    DescribeDump(u"x.bin", bytes, kDumpBytesSize, report);
    ASSERT_EQ(report.line_count, 4u);
    const std::u16string_view block_line = LineText(report, 1);
    const std::u16string_view word_line = LineText(report, 2);
    SCOPED_TRACE(std::string(block_line.begin(), block_line.end()));

    const RecordBlockFacts& block = facts.record_block;
    const bool all_pass = std::all_of(block.records.begin(), block.records.end(),
                                      [](const RecordFacts& r) { return r.passes; });
    EXPECT_EQ(block.distance >= 0, all_pass);
    if (!random_bytes) {
      // A record that passes gives the distance it was made for (a changed
      // bit it survives is a spare one); the block, their mean rounded down.
      std::uint64_t sum = 0;
      for (std::size_t i = 0; i < kRecordCount; ++i) {
        sum += encoded[i];
        if (block.records[i].passes) {
          EXPECT_EQ(block.records[i].distance, encoded[i]);
        }
      }
      EXPECT_EQ(block.distance, all_pass ? static_cast<std::int64_t>(sum / 5) : -1);
    }
    EXPECT_EQ(report.lines[1].verdict == LineVerdict::kOk, all_pass);
    if (all_pass) {
      ++passed_blocks;
      std::uint64_t sum = 0;
      for (const RecordFacts& r : block.records) sum += r.distance;
      EXPECT_EQ(static_cast<std::uint64_t>(block.distance), sum / 5);
      const std::string digits = std::to_string(sum / 5);
      EXPECT_TRUE(block_line.ends_with(u"--> " + std::u16string(digits.begin(), digits.end()) +
                                       u" km --> CRC/Parity OK"));
      if (same) {
        EXPECT_TRUE(block.records_agree);
      }
    }
    for (std::size_t i = 0; i < kRecordCount; ++i) {
      const LineSpan at = RecordBytesInLine(i);
      EXPECT_EQ(block_line.substr(at.offset, at.length),
                FormatByteDump(block.records[i].bytes).substr(0, at.length));
    }

    const CounterWordFacts& counter = facts.counter_word;
    EXPECT_EQ(counter.passes, report.lines[2].verdict == LineVerdict::kOk);
    EXPECT_EQ(counter.passes, word_line.ends_with(u" km  --> CRC OK"));
    if (counter.passes) {
      ++passed_words;
      EXPECT_TRUE(word_line.ends_with(u"--> " + std::u16string(counter.kilometres_text.View()) +
                                      u" km  --> CRC OK"));
    }
  }
  // Both outcomes were seen often enough to mean something.
  EXPECT_GT(passed_blocks, 2000);
  EXPECT_GT(passed_words, 2000);
  EXPECT_LT(passed_blocks, 18000);
  EXPECT_LT(passed_words, 19000);
}

}  // namespace
}  // namespace dumpscan
