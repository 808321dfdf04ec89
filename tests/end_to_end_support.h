#pragma once
// What the end-to-end tests of every platform share: one example dump, its
// two report lines, and the check of a whole run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dump_fixture.h"
#include "tests/run_tool.h"

namespace dumpscan::testing_support {

/// The report lines of ExampleDump(): 123456 km, stored both ways.
inline const std::vector<std::u16string> kExampleReadings = {
    u"0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E "
    u"--> 123456 km --> CRC/Parity OK",
    u"0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK"};

/// A dump of `size` bytes holding 123456 km in both forms, as far as it reaches.
inline std::vector<std::uint8_t> ExampleDump(std::size_t size = 2048) {
  return fixture::MakeDump(fixture::EncodeRecordBlock(123456), fixture::EncodeCounterWord(12345600),
                           size);
}

/// The run ended by itself with exit code 0, having written exactly the
/// report of `dumps` (in its own enumeration order) and the prompt.
inline void ExpectReport(const ToolRun& run, const ExpectedDumps& dumps) {
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, ExpectedOutput(dumps, run.output));
}

}  // namespace dumpscan::testing_support
