#include "engine/dump_facts.h"

#include <algorithm>

namespace dumpscan {

RecordBlockFacts RecordBlockFactsOf(std::span<const std::uint8_t, kRecordBlockSize> block) {
  RecordBlockFacts facts;
  RecordBlock copy{};
  std::copy(block.begin(), block.end(), copy.bytes.begin());
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    RecordFacts& record = facts.records[i];
    std::copy_n(copy.bytes.begin() + static_cast<std::ptrdiff_t>(4 * i), 4, record.bytes.begin());
    // Indices in range: the words and the value are always there.
    record.value = RecordValue(copy, i).value_or(0);
    record.stored_check = static_cast<std::uint8_t>(ReadRecordWord(copy, i, 0).value_or(0) & 0xF);
    record.value_check = NibbleChecksum(record.value, 4);
    record.step_byte = static_cast<std::uint8_t>(ReadRecordWord(copy, i, 1).value_or(0) & 0xFF);
    record.odd_parity = HasOddParity(record.step_byte);
    record.steps = StepCount(record.step_byte);
    record.checksum_passes = CheckRecordHigh(copy, i).has_value();
    record.parity_passes = CheckRecordLow(copy, i).has_value();
    record.passes = record.checksum_passes && record.parity_passes;
    record.distance = 128u * record.value + record.steps + 1u;
  }
  facts.distance = DecodeRecordBlock(block);
  facts.records_agree =
      facts.distance >= 0 &&
      std::all_of(facts.records.begin(), facts.records.end(), [&](const RecordFacts& record) {
        return record.distance == facts.records[0].distance;
      });
  return facts;
}

CounterWordFacts CounterWordFactsOf(std::span<const std::uint8_t, kCounterWordSize> block) {
  CounterWordFacts facts;
  std::copy(block.begin(), block.end(), facts.bytes.begin());
  const CounterWordFields fields = ReadCounterWord(block);
  facts.count = fields.count;
  facts.stored_check = fields.check;
  facts.count_check = NibbleChecksum(fields.count, 7);
  facts.passes = DecodeCounterWord(block) >= 0;
  facts.kilometres = CounterKilometres(fields.count);
  facts.kilometres_text = CounterKilometresText(fields.count);
  return facts;
}

DumpFacts DumpFactsOf(std::span<const std::uint8_t, kDumpBytesSize> bytes, std::size_t got) {
  DumpFacts facts;
  facts.has_record_block = got >= kRecordBlockSize;
  facts.has_counter_word = got >= kDumpBytesSize;
  if (facts.has_record_block)
    facts.record_block = RecordBlockFactsOf(bytes.first<kRecordBlockSize>());
  if (facts.has_counter_word)
    facts.counter_word = CounterWordFactsOf(bytes.last<kCounterWordSize>());
  return facts;
}

LineSpan RecordBytesInLine(std::size_t i) {
  // The report line is the prefix, then three units ("3C ") per byte; a
  // record's last byte shows without its space.
  constexpr std::size_t kRecordUnits = std::size_t{3} * 4;
  return {kRecordBlockLinePrefix.size() + kRecordUnits * i, kRecordUnits - 1};
}

}  // namespace dumpscan
