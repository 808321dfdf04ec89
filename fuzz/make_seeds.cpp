// Writes the fuzzers' starting inputs from the test fixtures:
//   make_seeds DIRECTORY   (creates DIRECTORY/<fuzzer>/...)

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/dump_fixture.h"

namespace {

using namespace dumpscan::fixture;
namespace fs = std::filesystem;

void Seed(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(dir);
  WriteFile(dir / name, bytes);
}

template <std::size_t N>
std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, N>& array) {
  return {array.begin(), array.end()};
}

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path root = argv[1];
  for (const std::uint32_t distance : {2u, 32775u, 123456u, 8388609u}) {
    auto block = EncodeRecordBlock(distance);
    Seed(root / "record_block_fuzzer", "valid" + std::to_string(distance), Bytes(block));
    block[11] ^= 0x80;
    Seed(root / "record_block_fuzzer", "parity" + std::to_string(distance), Bytes(block));
  }
  for (const std::uint32_t count : {0u, 1u, 1234567u, 13107212u, 268435455u}) {
    auto word = Bytes(EncodeCounterWord(count));
    word.push_back(2);
    Seed(root / "counter_word_fuzzer", "valid" + std::to_string(count), word);
  }
  const char16_t lines[] = u"first\r\nsecond\nthird\rfourth\n\r";
  std::vector<std::uint8_t> utf16 = {3, 1, 2};
  for (const char16_t unit : std::u16string_view(lines)) {
    utf16.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    utf16.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  Seed(root / "line_input_fuzzer", "lines", utf16);
  for (const std::string name : {"dump.bin", "DUMP.BIN", "x.bin.txt", "\303\274ber.bin",
                                 "\xFF\xFE.bin", "a\x1B[2J.bin", "\xED\xA0\x80.bin"}) {
    Seed(root / "dump_name_fuzzer", std::to_string(std::hash<std::string>{}(name)), Text(name));
  }
  return 0;
}
