#include "engine/record_block.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/dump_fixture.h"

namespace dumpscan {
namespace {

using Block = std::array<std::uint8_t, 20>;

Block Repeat(std::array<std::uint8_t, 4> record) {
  Block block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = record[i % 4];
  return block;
}

TEST(NibbleChecksumTest, ReferenceValues) {
  EXPECT_EQ(NibbleChecksum(0, 4), 0x6);
  EXPECT_EQ(NibbleChecksum(0xF000, 4), 0x9);
  EXPECT_EQ(NibbleChecksum(0x0100, 4), 0xB);
  EXPECT_EQ(NibbleChecksum(0, 7), 0xF);
  EXPECT_EQ(NibbleChecksum(0xABCDEF, 0), 0xF);
}

TEST(NibbleChecksumTest, TableIsTheGeneratorsRemainders) {
  // Entry k is k * x^4 mod (x^4+x^3+x^2+1), so the table is linear.
  EXPECT_EQ(NibbleTable[1], 0xD);
  EXPECT_EQ(NibbleTable[8], 0x1);
  for (unsigned a = 0; a < 16; ++a)
    for (unsigned b = 0; b < 16; ++b)
      EXPECT_EQ(NibbleTable[a ^ b], NibbleTable[a] ^ NibbleTable[b]) << a << "^" << b;
}

TEST(HasOddParityTest, CountsAllEightBits) {
  EXPECT_FALSE(HasOddParity(0x00));
  EXPECT_TRUE(HasOddParity(0x80));
  EXPECT_TRUE(HasOddParity(0x85));
  EXPECT_FALSE(HasOddParity(0x05));
  EXPECT_FALSE(HasOddParity(0xFF));
  EXPECT_TRUE(HasOddParity(0x7F));
}

TEST(ReadRecordWordTest, BigEndianWordsAndIndexBounds) {
  RecordBlock block{};
  for (std::size_t k = 0; k < block.bytes.size(); ++k)
    block.bytes[k] = static_cast<std::uint8_t>(k);
  EXPECT_EQ(ReadRecordWord(block, 0, 0), 0x0001);
  EXPECT_EQ(ReadRecordWord(block, 4, 1), 0x1213);
  EXPECT_EQ(ReadRecordWord(block, 5, 0), std::nullopt);
  EXPECT_EQ(ReadRecordWord(block, 0, 2), std::nullopt);
  EXPECT_EQ(CheckRecordHigh(block, 5), std::nullopt);
  EXPECT_EQ(CheckRecordLow(block, 5), std::nullopt);
}

struct DecodeCase {
  const char* what;
  Block block;
  std::int32_t distance;
};

class DecodeRecordBlockTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRecordBlockTest, Distance) {
  EXPECT_EQ(DecodeRecordBlock(GetParam().block), GetParam().distance);
}

Block WithByte(Block block, std::size_t at, std::uint8_t value) {
  block[at] = value;
  return block;
}

const Block kValid = Repeat({0x10, 0x0B, 0xF0, 0x85});

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeRecordBlockTest,
    testing::Values(DecodeCase{"five_equal_records", kValid, 32775},
                    DecodeCase{"spare_nibble_ignored", WithByte(kValid, 14, 0xF7), 32775},
                    DecodeCase{"even_parity_fails", WithByte(kValid, 11, 0x05), -1},
                    DecodeCase{"all_zero_fails", Block{}, -1},
                    DecodeCase{"all_ones_fails", Repeat({0xFF, 0xFF, 0xFF, 0xFF}), -1},
                    DecodeCase{"smallest", Repeat({0x00, 0x06, 0xF0, 0x80}), 2},
                    DecodeCase{"largest", Repeat({0xFF, 0xF5, 0x00, 0x7F}), 8388609},
                    DecodeCase{"records_average", WithByte(kValid, 17, 0x1C), 32800},
                    DecodeCase{"example_reading", Repeat({0x3C, 0x48, 0xF0, 0x3E}), 123456}),
    [](const testing::TestParamInfo<DecodeCase>& param_info) {
      return std::string(param_info.param.what);
    });

TEST(DecodeRecordBlockTest, EverySingleBitFlipOutsideTheSpareNibbleFails) {
  for (std::size_t byte = 0; byte < kValid.size(); ++byte) {
    for (unsigned bit = 0; bit < 8; ++bit) {
      Block block = kValid;
      block[byte] = static_cast<std::uint8_t>(block[byte] ^ (1u << bit));
      const bool spare = byte % 4 == 2 && bit < 4;
      EXPECT_EQ(DecodeRecordBlock(block), spare ? 32775 : -1) << "byte " << byte << " bit " << bit;
    }
  }
}

TEST(DecodeRecordBlockTest, FixtureRecordsDecodeToTheirDistance) {
  for (const std::uint32_t distance : {2u, 3u, 129u, 130u, 32775u, 123456u, 524289u, 8388609u}) {
    EXPECT_EQ(DecodeRecordBlock(fixture::EncodeRecordBlock(distance)),
              static_cast<std::int32_t>(distance));
  }
  EXPECT_EQ(fixture::EncodeRecord(123456), (std::array<std::uint8_t, 4>{0x3C, 0x48, 0xF0, 0x3E}));
}

TEST(DescribeRecordBlockTest, ReportTexts) {
  EXPECT_EQ(DescribeRecordBlock(kValid),
            u"10 0B F0 85 10 0B F0 85 10 0B F0 85 10 0B F0 85 10 0B F0 85 "
            u"--> 32775 km --> CRC/Parity OK");
  EXPECT_EQ(DescribeRecordBlock(WithByte(kValid, 11, 0x05)),
            u"10 0B F0 85 10 0B F0 85 10 0B F0 05 10 0B F0 85 10 0B F0 85 "
            u"--> Crc And/Or Parity Error");
}

TEST(FormatByteDumpTest, UppercaseTwoDigitsEachFollowedByASpace) {
  const std::vector<std::uint8_t> bytes = {0x00, 0x0B, 0xAF, 0xFF};
  EXPECT_EQ(FormatByteDump(bytes), u"00 0B AF FF ");
  EXPECT_EQ(FormatByteDump({}), u"");
}

}  // namespace
}  // namespace dumpscan
