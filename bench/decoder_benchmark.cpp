// Nanoseconds per block for the decoders and the number formatting they
// share, and per dump for the block of lines the scan prints. The inputs cycle through valid and
// failing blocks so that neither the branch predictor nor the compiler sees one constant block.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/counter_word.h"
#include "engine/dump_report.h"
#include "engine/record_block.h"

namespace {

using dumpscan::kCounterWordSize;
using dumpscan::kRecordBlockSize;

constexpr std::size_t kInputs = 64;

// Record blocks built by hand, independent of the decoder: five copies of
// one record for distance d, with every eighth block's step byte made even.
std::vector<std::array<std::uint8_t, kRecordBlockSize>> RecordBlocks() {
  std::vector<std::array<std::uint8_t, kRecordBlockSize>> blocks;
  for (std::uint32_t i = 0; i < kInputs; ++i) {
    const std::uint32_t distance = 100000 + i * 7919;
    const std::uint32_t value = (distance - 2) / 128;
    const std::uint32_t steps = (distance - 2) % 128;
    const std::uint32_t high = ((value & 0xFFF) << 4) | dumpscan::NibbleChecksum(value, 4);
    const bool odd_parity = std::popcount(steps) % 2 == 1;
    const bool broken = i % 8 == 7;
    const std::uint32_t step_byte = steps | (odd_parity == broken ? 0x80u : 0u);
    const std::array<std::uint8_t, 4> record = {
        static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high),
        static_cast<std::uint8_t>((~(value >> 12) & 0xF) << 4),
        static_cast<std::uint8_t>(step_byte)};
    std::array<std::uint8_t, kRecordBlockSize> block{};
    for (std::size_t k = 0; k < block.size(); ++k) block[k] = record[k % 4];
    blocks.push_back(block);
  }
  return blocks;
}

// Counter words of 100,000.00 km and more; every eighth fails its check.
std::vector<std::array<std::uint8_t, kCounterWordSize>> CounterWords() {
  std::vector<std::array<std::uint8_t, kCounterWordSize>> words;
  for (std::uint32_t i = 0; i < kInputs; ++i) {
    const std::uint32_t count = 10000000 + i * 104729;
    const std::uint32_t check = dumpscan::NibbleChecksum(count, 7) ^ (i % 8 == 7 ? 1u : 0u);
    const std::uint32_t word = (check << 28) | count;
    words.push_back({static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
                     static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)});
  }
  return words;
}

template <typename Blocks, typename Run>
void Cycle(benchmark::State& state, const Blocks& blocks, Run run) {
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(run(blocks[i]));
    i = (i + 1) % blocks.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DecodeRecordBlock(benchmark::State& state) {
  Cycle(state, RecordBlocks(), [](const auto& block) {
    return dumpscan::DecodeRecordBlock(std::span<const std::uint8_t, kRecordBlockSize>(block));
  });
}

void BM_DescribeRecordBlock(benchmark::State& state) {
  Cycle(state, RecordBlocks(), [](const auto& block) {
    return dumpscan::DescribeRecordBlock(std::span<const std::uint8_t, kRecordBlockSize>(block));
  });
}

void BM_DecodeCounterWord(benchmark::State& state) {
  Cycle(state, CounterWords(), [](const auto& word) {
    return dumpscan::DecodeCounterWord(std::span<const std::uint8_t, kCounterWordSize>(word));
  });
}

void BM_DescribeCounterWord(benchmark::State& state) {
  Cycle(state, CounterWords(), [](const auto& word) {
    return dumpscan::DescribeCounterWord(std::span<const std::uint8_t, kCounterWordSize>(word));
  });
}

// The counter word's kilometres, as the report formats them.
void BM_FormatFixed(benchmark::State& state) {
  std::vector<float> values;
  for (std::uint32_t i = 0; i < kInputs; ++i) {
    values.push_back(dumpscan::CounterKilometres(10000000 + i * 104729));
  }
  Cycle(state, values, [](float x) { return dumpscan::FormatFixed(x, 2); });
}

// A dump's whole block of lines (name, both report lines, empty line), into
// one block reused for every dump as the scan does.
void BM_DescribeDump(benchmark::State& state) {
  const auto blocks = RecordBlocks();
  const auto words = CounterWords();
  std::vector<std::array<std::uint8_t, dumpscan::kDumpBytesSize>> dumps(kInputs);
  for (std::size_t i = 0; i < kInputs; ++i) {
    std::copy(blocks[i].begin(), blocks[i].end(), dumps[i].begin());
    std::copy(words[(i * 5) % kInputs].begin(), words[(i * 5) % kInputs].end(),
              dumps[i].begin() + kRecordBlockSize);
  }
  dumpscan::DumpBlock block;
  Cycle(state, dumps, [&block](const auto& bytes) {
    dumpscan::DescribeDump(u"dump-0000001.bin", bytes, bytes.size(), block);
    return block.line_count;
  });
}

BENCHMARK(BM_DecodeRecordBlock);
BENCHMARK(BM_DescribeRecordBlock);
BENCHMARK(BM_DecodeCounterWord);
BENCHMARK(BM_DescribeCounterWord);
BENCHMARK(BM_FormatFixed);
BENCHMARK(BM_DescribeDump);

}  // namespace

BENCHMARK_MAIN();
