#include "scanner/dump_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "tests/dump_fixture.h"

namespace dumpscan {
namespace {

using Bytes = std::array<std::uint8_t, kDumpBytesSize>;

Bytes DumpBytes(const std::array<std::uint8_t, 20>& block,
                const std::array<std::uint8_t, 4>& word) {
  Bytes bytes{};
  std::copy(block.begin(), block.end(), bytes.begin());
  std::copy(word.begin(), word.end(), bytes.begin() + 20);
  return bytes;
}

struct ReportCase {
  std::size_t got;
  std::vector<ReportLine> lines;
};

class DescribeDumpBytesTest : public testing::TestWithParam<ReportCase> {};

// The bytes a dump's read gave, as many as arrived: the record block breaks
// its checksum, the counter word is valid.
TEST_P(DescribeDumpBytesTest, LinesFollowHowManyBytesArrived) {
  auto block = fixture::EncodeRecordBlock(123456);
  block[1] ^= 0x01;
  const Bytes bytes = DumpBytes(block, fixture::EncodeCounterWord(12345600));
  const std::vector<ReportLine> lines = DescribeDumpBytes(bytes, GetParam().got);
  ASSERT_EQ(lines.size(), GetParam().lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, GetParam().lines[i].text);
    EXPECT_EQ(lines[i].check_failed, GetParam().lines[i].check_failed);
  }
}

const ReportLine kRecordLine{
    u"0x774: 3C 49 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E "
    u"--> Crc And/Or Parity Error",
    true};
const ReportLine kCounterLine{u"0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK", false};

INSTANTIATE_TEST_SUITE_P(Cases, DescribeDumpBytesTest,
                         testing::Values(ReportCase{0, {}}, ReportCase{19, {}},
                                         ReportCase{20, {kRecordLine}},
                                         ReportCase{23, {kRecordLine}},
                                         ReportCase{24, {kRecordLine, kCounterLine}}));

TEST(DescribeDumpBytesTest, EachLineCarriesItsOwnVerdict) {
  auto word = fixture::EncodeCounterWord(12345600);
  word[0] ^= 0x10;
  const auto lines = DescribeDumpBytes(DumpBytes(fixture::EncodeRecordBlock(123456), word), 24);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_FALSE(lines[0].check_failed);
  EXPECT_TRUE(lines[1].check_failed);
  EXPECT_EQ(lines[1].text, u"0x788: B0 BC 61 00 --> Crc And/Or Parity Error");
}

}  // namespace
}  // namespace dumpscan
