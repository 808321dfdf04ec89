// Whole-domain checks of the decoders against independent computations:
// every storable distance, every count, every counter reading's text.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/counter_word.h"
#include "engine/record_block.h"
#include "tests/dump_fixture.h"
#include "tests/exact_kilometres.h"

namespace dumpscan {
namespace {

constexpr std::uint32_t kCounts = 1u << 28;

// Runs body(first, last) over [0, end) split across the machine's cores;
// returns the number of failures the bodies report.
template <typename Body>
std::uint64_t ParallelCount(std::uint32_t end, Body body) {
  const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
  // One core, or a build without threads (WebAssembly): no thread at all.
  if (workers == 1) return body(std::uint32_t{0}, end);
  std::atomic<std::uint64_t> failures{0};
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w) {
    const auto first = static_cast<std::uint32_t>(std::uint64_t{end} * w / workers);
    const auto last = static_cast<std::uint32_t>(std::uint64_t{end} * (w + 1) / workers);
    threads.emplace_back([&, first, last] { failures += body(first, last); });
  }
  for (auto& thread : threads) thread.join();
  return failures;
}

TEST(ExhaustiveTest, EveryDistanceDecodesToItselfWhateverTheSpareNibbles) {
  const auto failures = ParallelCount(8388609 + 1, [](std::uint32_t first, std::uint32_t last) {
    std::uint64_t bad = 0;
    for (std::uint32_t distance = std::max(first, 2u); distance < last; ++distance) {
      std::array<std::uint8_t, 20> block;
      for (std::size_t i = 0; i < 5; ++i) {
        // A different spare nibble in every record and for every distance.
        const auto record =
            fixture::EncodeRecord(distance, static_cast<std::uint8_t>(distance + 3 * i));
        std::copy(record.begin(), record.end(), block.begin() + static_cast<std::ptrdiff_t>(4 * i));
      }
      if (DecodeRecordBlock(block) != static_cast<std::int32_t>(distance)) ++bad;
    }
    return bad;
  });
  EXPECT_EQ(failures, 0u);
}

TEST(ExhaustiveTest, TableChecksumAgreesWithPolynomialDivisionForEveryCount) {
  const auto failures = ParallelCount(kCounts, [](std::uint32_t first, std::uint32_t last) {
    std::uint64_t bad = 0;
    for (std::uint32_t count = first; count < last; ++count) {
      if (NibbleChecksum(count, 7) != fixture::BitwiseNibbleChecksum(count, 7)) ++bad;
    }
    return bad;
  });
  EXPECT_EQ(failures, 0u);
}

TEST(ExhaustiveTest, EveryCountPrintsItsFloatValueRoundedAtTheHundredths) {
  const auto failures = ParallelCount(kCounts, [](std::uint32_t first, std::uint32_t last) {
    std::uint64_t bad = 0;
    std::array<char16_t, 24> expected;
    for (std::uint32_t count = first; count < last; ++count) {
      const fixture::ExactFloat exact = fixture::NearestFloatOfHundredths(count);
      const float x = CounterKilometres(count);
      if (x != std::ldexp(static_cast<float>(exact.mantissa), exact.exponent) ||
          FormatFixed(x, 2) != fixture::ExpectedText(exact, expected)) {
        ++bad;
      }
    }
    return bad;
  });
  EXPECT_EQ(failures, 0u);
}

}  // namespace
}  // namespace dumpscan
