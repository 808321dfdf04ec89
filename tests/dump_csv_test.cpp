#include "engine/dump_csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/dump_fixture.h"

namespace dumpscan {
namespace {

using Bytes = std::array<std::uint8_t, kDumpBytesSize>;

Bytes DumpBytes(const std::array<std::uint8_t, kRecordBlockSize>& block,
                const std::array<std::uint8_t, kCounterWordSize>& word) {
  Bytes bytes{};
  std::copy(block.begin(), block.end(), bytes.begin());
  std::copy(word.begin(), word.end(), bytes.begin() + kRecordBlockSize);
  return bytes;
}

// The expected rows are written out in full, by hand, from the fixture's
// bytes (see dump_facts_test.cpp for how each record reads).
TEST(DumpCsvTest, RowsForEachKindOfDump) {
  const Bytes valid =
      DumpBytes(fixture::EncodeRecordBlock(123456), fixture::EncodeCounterWord(12345600));
  auto broken_block = fixture::EncodeRecordBlock(123456);
  broken_block[1] ^= 0x01;
  auto broken_word = fixture::EncodeCounterWord(3280000);
  broken_word[0] ^= 0x10;
  std::u16string csv;
  AppendCsvHeader(csv);
  AppendCsvRow(u"valid.bin", valid, 24, true, csv);
  AppendCsvRow(u"checksum-error.bin", DumpBytes(broken_block, broken_word), 24, true, csv);
  AppendCsvRow(u"short.bin", DumpBytes(fixture::EncodeRecordBlock(2), {}), 22, true, csv);
  // Read, but it ends before the record block: too short for either form.
  AppendCsvRow(u"empty.bin", Bytes{}, 0, true, csv);
  // Not read: whatever the buffer holds is not looked at.
  AppendCsvRow(u"locked.bin", valid, 24, false, csv);
  AppendCsvRow(u"-5.bin", Bytes{}, 0, false, csv);
  EXPECT_EQ(csv,
            u"name,record block km,record block verdict,counter word km,counter word verdict,"
            u"record block bytes,counter word bytes\r\n"
            u"valid.bin,123456,CRC/Parity OK,123456.00,CRC OK,"
            u"3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E,A0 BC 61 00\r\n"
            u"checksum-error.bin,,Crc And/Or Parity Error,,Crc And/Or Parity Error,"
            u"3C 49 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E,E0 32 0C 80\r\n"
            u"short.bin,2,CRC/Parity OK,,missing,"
            u"00 06 F0 80 00 06 F0 80 00 06 F0 80 00 06 F0 80 00 06 F0 80,\r\n"
            u"empty.bin,,missing,,missing,,\r\n"
            u"locked.bin,,could not be read,,could not be read,,\r\n"
            u"'-5.bin,,could not be read,,could not be read,,\r\n");
}

// What a spreadsheet would take for a formula, or would take an apostrophe
// from, starts with an apostrophe; quoting is as before, the apostrophe
// inside the quotes.
TEST(DumpCsvTest, FieldsQuotedAndKeptFromFormulas) {
  const std::vector<std::pair<std::u16string_view, std::u16string_view>> cases = {
      {u"plain name.bin", u"plain name.bin"},
      {u"a,b.bin", u"\"a,b.bin\""},
      {u"say \"hi\".bin", u"\"say \"\"hi\"\".bin\""},
      {u"two\nlines.bin", u"\"two\nlines.bin\""},
      {u"cr\r.bin", u"\"cr\r.bin\""},
      {u"\u00e9t\u00e9 \U0001F600.bin", u"\u00e9t\u00e9 \U0001F600.bin"},
      {u"", u""},
      {u"=1+1.bin", u"'=1+1.bin"},
      {u"=HYPERLINK(\"x\";\"y\").bin", u"\"'=HYPERLINK(\"\"x\"\";\"\"y\"\").bin\""},
      {u"+49.bin", u"'+49.bin"},
      {u"-5.bin", u"'-5.bin"},
      {u"@SUM(A1).bin", u"'@SUM(A1).bin"},
      {u"\tab.bin", u"'\tab.bin"},
      {u"\r.bin", u"\"'\r.bin\""},
      {u"=a,b.bin", u"\"'=a,b.bin\""},
      {u"=", u"'="},
      // Only the first character counts.
      {u"a=1+1.bin", u"a=1+1.bin"},
      {u"x-5.bin", u"x-5.bin"},
      // An apostrophe of its own is kept from the spreadsheets that hide one.
      {u"'quoted.bin", u"''quoted.bin"},
      {u"'", u"''"},
      {u"\uFF1D1+1.bin", u"\uFF1D1+1.bin"},
  };
  for (const auto& [field, expected] : cases) {
    std::u16string out = u"x";
    AppendCsvField(field, out);
    std::u16string want = u"x";
    want += expected;
    EXPECT_EQ(out, want);
  }
}

}  // namespace
}  // namespace dumpscan
