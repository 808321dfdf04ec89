#include "engine/dump_details.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "engine/utf.h"

namespace dumpscan {
namespace {

using Bytes = std::array<std::uint8_t, kDumpBytesSize>;
using Record = std::array<std::uint8_t, 4>;
using Word = std::array<std::uint8_t, kCounterWordSize>;

// Records and counter words whose fields were worked out by hand (see
// dump_facts_test.cpp for each one's V, check nibble and step byte).
constexpr Record k123456 = {0x3C, 0x48, 0xF0, 0x3E};
constexpr Record k123456BadCheck = {0x3C, 0x49, 0xF0, 0x3E};
constexpr Record k123456BadParity = {0x3C, 0x48, 0xF0, 0xBE};
constexpr Record k123456BadBoth = {0x3C, 0x49, 0xF0, 0xBE};
constexpr Record k32775 = {0x10, 0x0B, 0xF0, 0x85};
constexpr Record k32775EvenStep = {0x10, 0x0B, 0xF0, 0x05};
constexpr Record k32903 = {0x10, 0x1C, 0xF0, 0x85};
constexpr Record k2 = {0x00, 0x06, 0xF0, 0x80};
// V = 0 with step byte 85 (S = 6): 7 km.
constexpr Record k7 = {0x00, 0x06, 0xF0, 0x85};
constexpr Record kZeros = {0, 0, 0, 0};
constexpr Record kOnes = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr Word k12345600 = {0xA0, 0xBC, 0x61, 0x00};
constexpr Word k3277400 = {0xB0, 0x32, 0x02, 0x58};
// 3280000 with its check nibble changed from F to E.
constexpr Word k3280000BadCheck = {0xE0, 0x32, 0x0C, 0x80};

Bytes DumpBytes(const std::array<Record, kRecordCount>& records, const Word& word) {
  Bytes bytes{};
  for (std::size_t i = 0; i < kRecordCount; ++i)
    for (std::size_t k = 0; k < 4; ++k) bytes[4 * i + k] = records[i][k];
  for (std::size_t k = 0; k < kCounterWordSize; ++k) bytes[kRecordBlockSize + k] = word[k];
  return bytes;
}

std::array<Record, kRecordCount> FiveWith(const Record& record, std::size_t i,
                                          const Record& other) {
  std::array<Record, kRecordCount> records = {record, record, record, record, record};
  records[i] = other;
  return records;
}

// A row as the page shows it: its label, its seven cells, and the columns
// marked bad ("check", "step") after them.
struct ExpectedRow {
  std::string label;
  std::array<std::string, kDetailsColumnCount> cells;
  std::vector<DetailsColumn> bad = {};
};

struct ExpectedMark {
  std::size_t offset;
  std::size_t length;
  std::string title;
};

struct DetailsCase {
  std::string what;
  Bytes bytes;
  std::size_t got;
  bool readable;
  std::string sentence;
  std::vector<ExpectedRow> rows;
  std::vector<ExpectedMark> marks;
};

// "Record N", appended rather than "literal" + std::string: GCC 12 gives a
// false -Wrestrict warning for that form when it inlines it (armhf).
std::string RecordLabel(int n) {
  std::string label = "Record ";
  label += std::to_string(n);
  return label;
}

ExpectedRow Good123456(int n) {
  return {RecordLabel(n), {"3C 48 F0 3E", "964", "8, 8", "3E, odd", "63", "123456 km", "passes"}};
}
ExpectedRow Good32775(int n) {
  return {RecordLabel(n), {"10 0B F0 85", "256", "B, B", "85, odd", "6", "32775 km", "passes"}};
}
ExpectedRow Good2(int n) {
  return {RecordLabel(n), {"00 06 F0 80", "0", "6, 6", "80, odd", "1", "2 km", "passes"}};
}
const ExpectedRow kWord12345600 = {
    "Counter word",
    {"A0 BC 61 00", "12345600", "A, A", "\u2014", "\u2014", "123456.00 km", "passes"}};

std::vector<DetailsCase> Cases() {
  return {
      {"valid",
       DumpBytes(FiveWith(k123456, 0, k123456), k12345600),
       kDumpBytesSize,
       true,
       "All five records pass; each gives 123456 km. The counter word passes: 123456.00 km.",
       {Good123456(1), Good123456(2), Good123456(3), Good123456(4), Good123456(5), kWord12345600},
       {}},
      {"averaged_with_a_failing_counter_word",
       DumpBytes(FiveWith(k32775, 4, k32903), k3280000BadCheck),
       kDumpBytesSize,
       true,
       "All five records pass but differ: they give 32775, 32775, 32775, 32775 and 32903 km; the "
       "report takes their average, rounded down, 32800 km. The counter word fails its checksum "
       "(check nibble E, its count gives F); its count would stand for 32800.00 km.",
       {Good32775(1),
        Good32775(2),
        Good32775(3),
        Good32775(4),
        {"Record 5", {"10 1C F0 85", "257", "C, C", "85, odd", "6", "32903 km", "passes"}},
        {"Counter word",
         {"E0 32 0C 80", "3280000", "E, F", "\u2014", "\u2014", "32800.00 km (untrusted)",
          "fails: check nibble E, its count gives F"},
         {DetailsColumn::kCheck}}},
       {}},
      {"checksum_error",
       DumpBytes(FiveWith(k123456, 0, k123456BadCheck), k12345600),
       kDumpBytesSize,
       true,
       "Record 1 fails its checksum. Records 2, 3, 4 and 5 pass; each gives 123456 km. The counter "
       "word passes: 123456.00 km.",
       {{"Record 1",
         {"3C 49 F0 3E", "964", "9, 8", "3E, odd", "63", "123456 km (untrusted)",
          "fails: check nibble 9, its value gives 8"},
         {DetailsColumn::kCheck}},
        Good123456(2),
        Good123456(3),
        Good123456(4),
        Good123456(5),
        kWord12345600},
       {{7, 11, "Record 1: check nibble 9, its value gives 8"}}},
      {"parity_error",
       DumpBytes(FiveWith(k32775, 2, k32775EvenStep), k3277400),
       kDumpBytesSize,
       true,
       "Record 3 fails its parity test. Records 1, 2, 4 and 5 pass; each gives 32775 km. The "
       "counter word passes: 32774.00 km.",
       {Good32775(1),
        Good32775(2),
        {"Record 3",
         {"10 0B F0 05", "256", "B, B", "05, even", "6", "32775 km (untrusted)",
          "fails: step byte 05 has even parity"},
         {DetailsColumn::kStepByte}},
        Good32775(4),
        Good32775(5),
        {"Counter word",
         {"B0 32 02 58", "3277400", "B, B", "\u2014", "\u2014", "32774.00 km", "passes"}}},
       {{31, 11, "Record 3: step byte 05 has even parity"}}},
      {"both_tests_fail_in_one_record",
       DumpBytes(FiveWith(k123456, 1, k123456BadBoth), k12345600),
       kDumpBytesSize,
       true,
       "Record 2 fails both its checksum and its parity test. Records 1, 3, 4 and 5 pass; each "
       "gives "
       "123456 km. The counter word passes: 123456.00 km.",
       {Good123456(1),
        {"Record 2",
         {"3C 49 F0 BE", "964", "9, 8", "BE, even", "63", "123456 km (untrusted)",
          "fails: check nibble 9, its value gives 8; step byte BE has even parity"},
         {DetailsColumn::kCheck, DetailsColumn::kStepByte}},
        Good123456(3),
        Good123456(4),
        Good123456(5),
        kWord12345600},
       {{19, 11, "Record 2: check nibble 9, its value gives 8; step byte BE has even parity"}}},
      {"short_of_the_counter_word",
       DumpBytes(FiveWith(k2, 0, k2), Word{}),
       22,
       true,
       "All five records pass; each gives 2 km. The file ends before byte 1,932, so it has no "
       "counter word.",
       {Good2(1), Good2(2), Good2(3), Good2(4), Good2(5)},
       {}},
      {"short_of_the_record_block",
       DumpBytes(FiveWith(k2, 0, k2), Word{}),
       19,
       true,
       "The file ends before byte 1,928: it holds neither the record block nor the counter word.",
       {},
       {}},
      {"unreadable",
       DumpBytes(FiveWith(k123456, 0, k123456), k12345600),
       kDumpBytesSize,
       false,
       "The file could not be read, so neither form was checked.",
       {},
       {}},
  };
}

// Named in test listings by what it is, not by its bytes.
void PrintTo(const DetailsCase& c, std::ostream* os) { *os << c.what; }

class DumpDetailsTest : public testing::TestWithParam<DetailsCase> {};

TEST_P(DumpDetailsTest, SaysWhatTheDumpHolds) {
  const DetailsCase& c = GetParam();
  const DumpDetails details = DumpDetailsOf(c.bytes, c.got, c.readable);
  EXPECT_EQ(Utf16ToUtf8(details.sentence), c.sentence);
  ASSERT_EQ(details.rows.size(), c.rows.size());
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    const DetailsRow& row = details.rows[i];
    const ExpectedRow& expected = c.rows[i];
    SCOPED_TRACE(expected.label);
    EXPECT_EQ(Utf16ToUtf8(row.label), expected.label);
    EXPECT_EQ(row.passes, expected.bad.empty());
    for (std::size_t k = 0; k < kDetailsColumnCount; ++k) {
      EXPECT_EQ(Utf16ToUtf8(row.cells[k]), expected.cells[k]) << "column " << k;
      const bool bad = std::find(expected.bad.begin(), expected.bad.end(),
                                 static_cast<DetailsColumn>(k)) != expected.bad.end();
      EXPECT_EQ(row.bad[k], bad) << "column " << k;
    }
  }
  ASSERT_EQ(details.marks.size(), c.marks.size());
  for (std::size_t i = 0; i < c.marks.size(); ++i) {
    EXPECT_EQ(details.marks[i].offset, c.marks[i].offset);
    EXPECT_EQ(details.marks[i].length, c.marks[i].length);
    EXPECT_EQ(Utf16ToUtf8(details.marks[i].title), c.marks[i].title);
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, DumpDetailsTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<DetailsCase>& param_info) {
                           return param_info.param.what;
                         });

// The sentence for the other ways the five records can stand: several
// failing each kind of test, none passing, some passing with different
// distances, one passing, and records that differ but average exactly.
TEST(DumpDetailsTest, SentenceForEachWayTheRecordsStand) {
  struct Case {
    std::array<Record, kRecordCount> records;
    std::string sentence;
  };
  const std::vector<Case> cases = {
      {{k123456BadCheck, k123456BadParity, k123456BadBoth, kZeros, kOnes},
       "Record 1 fails its checksum. Record 2 fails its parity test. Records 3, 4 and 5 fail both "
       "their checksums and their parity tests. No record passes, so the record block gives no "
       "distance."},
      {{k123456, k32775, k32903, k123456BadCheck, k123456BadCheck},
       "Records 4 and 5 fail their checksums. Records 1, 2 and 3 pass; they give 123456, 32775 and "
       "32903 km."},
      {{k123456, k123456BadParity, k123456BadParity, k123456BadParity, k123456BadParity},
       "Records 2, 3, 4 and 5 fail their parity tests. Record 1 passes; it gives 123456 km."},
      {{k2, k2, k123456BadBoth, k123456BadBoth, k2},
       "Records 3 and 4 fail both their checksums and their parity tests. Records 1, 2 and 5 pass; "
       "each gives 2 km."},
      {{k2, k2, k2, k2, k7},
       "All five records pass but differ: they give 2, 2, 2, 2 and 7 km; the report takes their "
       "average, 3 km."},
  };
  for (const Case& c : cases) {
    const DumpDetails details =
        DumpDetailsOf(DumpBytes(c.records, k12345600), kDumpBytesSize, true);
    EXPECT_EQ(Utf16ToUtf8(details.sentence),
              c.sentence + " The counter word passes: 123456.00 km.");
  }
}

}  // namespace
}  // namespace dumpscan
