#pragma once
// Builds dump contents for tests and samples. The checksum here is computed
// bit by bit, independently of the tool's table, so the fixtures do not
// share a fault with the code they test.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dumpscan::fixture {

/// CRC-4 (generator x^4+x^3+x^2+1, start 0xF, nibbles least significant
/// first, no final XOR) computed by polynomial division, without a table.
std::uint8_t BitwiseNibbleChecksum(std::uint32_t x, unsigned nibbles);

/// One valid mileage record for `distance` (2..8,388,609); `spare` fills
/// the ignored low nibble of b2.
std::array<std::uint8_t, 4> EncodeRecord(std::uint32_t distance, std::uint8_t spare = 0);

/// Five identical records for `distance`.
std::array<std::uint8_t, 20> EncodeRecordBlock(std::uint32_t distance);

/// A valid counter word for `count` (0..0x0FFFFFFF hundredths of a km).
std::array<std::uint8_t, 4> EncodeCounterWord(std::uint32_t count);

/// `size` bytes of filler (0x5A) with the record block and counter word
/// placed at their offsets as far as the size reaches.
std::vector<std::uint8_t> MakeDump(const std::array<std::uint8_t, 20>& block,
                                   const std::array<std::uint8_t, 4>& word,
                                   std::size_t size = 2048);

/// Writes bytes to a file, replacing it; false when the file could not be
/// written whole.
bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

/// Writes `head` to a file, replacing it, and extends it with zeros to
/// `size` bytes as a sparse file: the zeros are not written. Returns the
/// disk space the file then takes, in bytes (the whole size where the file
/// system keeps no holes); UINT64_MAX when the file could not be made.
std::uint64_t WriteSparseFile(const std::filesystem::path& path,
                              const std::vector<std::uint8_t>& head, std::uint64_t size);

/// Reads a whole file as bytes.
std::string ReadFile(const std::filesystem::path& path);

/// The bytes the tool writes for `lines` when its output is not a console:
/// UTF-16LE, each line followed by CR LF.
std::string Utf16LeLines(std::initializer_list<std::u16string_view> lines);

}  // namespace dumpscan::fixture
