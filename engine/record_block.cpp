#include "engine/record_block.h"

#include <algorithm>
#include <bit>

namespace dumpscan {

void AppendDecimal(std::uint64_t n, std::u16string& out) {
  char16_t digits[20];
  std::size_t at = std::size(digits);
  do {
    digits[--at] = static_cast<char16_t>(u'0' + n % 10);
    n /= 10;
  } while (n != 0);
  out.append(digits + at, std::size(digits) - at);
}

std::uint8_t NibbleChecksum(std::uint32_t x, unsigned nibbles) {
  std::uint8_t c = 0xF;
  for (unsigned k = 0; k < nibbles; ++k) {
    c = static_cast<std::uint8_t>(NibbleTable[c] ^ (x & 0xF));
    x >>= 4;
  }
  return c;
}

bool HasOddParity(std::uint8_t b) { return (std::popcount(b) & 1) != 0; }

std::optional<std::uint16_t> ReadRecordWord(const RecordBlock& block, std::size_t i,
                                            std::size_t j) {
  if (i >= kRecordCount || j > 1) return std::nullopt;
  const std::size_t at = 4 * i + 2 * j;
  return static_cast<std::uint16_t>((block.bytes[at] << 8) | block.bytes[at + 1]);
}

std::optional<std::uint16_t> RecordValue(const RecordBlock& block, std::size_t i) {
  const auto high = ReadRecordWord(block, i, 0);
  const auto low = ReadRecordWord(block, i, 1);
  if (!high || !low) return std::nullopt;
  // Value bits 12-15 sit inverted in the high nibble of b2.
  const unsigned inverted_top = ~static_cast<unsigned>(*low >> 8) & 0xF0u;
  return static_cast<std::uint16_t>(((*high >> 4) | (inverted_top << 8)) & 0xFFFF);
}

std::uint8_t StepCount(std::uint8_t step_byte) {
  return static_cast<std::uint8_t>((step_byte & 0x7F) + 1);
}

std::optional<std::uint16_t> CheckRecordHigh(const RecordBlock& block, std::size_t i) {
  const auto value = RecordValue(block, i);
  if (!value) return std::nullopt;
  const auto high = ReadRecordWord(block, i, 0);
  if (NibbleChecksum(*value, 4) != (*high & 0xF)) return std::nullopt;
  return value;
}

std::optional<std::uint8_t> CheckRecordLow(const RecordBlock& block, std::size_t i) {
  const auto low = ReadRecordWord(block, i, 1);
  if (!low) return std::nullopt;
  const auto step_byte = static_cast<std::uint8_t>(*low & 0xFF);
  if (!HasOddParity(step_byte)) return std::nullopt;
  return StepCount(step_byte);
}

std::int32_t DecodeRecordBlock(std::span<const std::uint8_t, kRecordBlockSize> block) {
  RecordBlock copy{};
  std::copy(block.begin(), block.end(), copy.bytes.begin());
  std::int64_t sum_values = 0;
  std::int64_t sum_steps = 0;
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    const auto value = CheckRecordHigh(copy, i);
    if (!value) return -1;
    sum_values += *value;
    const auto steps = CheckRecordLow(copy, i);
    if (!steps) return -1;
    sum_steps += *steps;
  }
  return static_cast<std::int32_t>((sum_values * 128 + sum_steps) / 5 + 1);
}

std::u16string DescribeRecordBlock(std::span<const std::uint8_t, kRecordBlockSize> block) {
  std::u16string text;
  AppendRecordBlockReport(block, text);
  return text;
}

std::int32_t AppendRecordBlockReport(std::span<const std::uint8_t, kRecordBlockSize> block,
                                     std::u16string& out) {
  static constexpr std::u16string_view kOkVerdict = u" km --> CRC/Parity OK";
  const std::int32_t distance = DecodeRecordBlock(block);
  // The longest text at once: the dump, "--> ", 7 digits and the verdict.
  out.reserve(out.size() + 3 * kRecordBlockSize + 4 + 7 + kOkVerdict.size());
  AppendByteDump(block, out);
  if (distance < 0) {
    out += kCheckErrorVerdict;
  } else {
    out += u"--> ";
    AppendDecimal(static_cast<std::uint64_t>(distance), out);
    out += kOkVerdict;
  }
  return distance;
}

std::u16string FormatByteDump(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  AppendByteDump(bytes, text);
  return text;
}

namespace {

// The three units each byte shows as ("3C "), for every byte value: the
// dump is on every report line, so it is copied from here, not composed.
struct ByteText {
  char16_t units[3];
};
constexpr std::array<ByteText, 256> kByteTexts = [] {
  constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::array<ByteText, 256> texts{};
  for (std::size_t b = 0; b < texts.size(); ++b) texts[b] = {{kHex[b >> 4], kHex[b & 0xF], u' '}};
  return texts;
}();

}  // namespace

void AppendByteDump(std::span<const std::uint8_t> bytes, std::u16string& out) {
  // Laid out on the stack and appended whole: growing `out` first and
  // writing into it would have it fill the new room with zeros first.
  constexpr std::size_t kChunk = 32;
  char16_t text[3 * kChunk];
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), kChunk);
    char16_t* next = text;
    for (const std::uint8_t b : bytes.first(n)) {
      const ByteText& byte_text = kByteTexts[b];
      *next++ = byte_text.units[0];
      *next++ = byte_text.units[1];
      *next++ = byte_text.units[2];
    }
    out.append(text, 3 * n);
    bytes = bytes.subspan(n);
  }
}

}  // namespace dumpscan
