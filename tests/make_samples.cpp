// Writes the bundled sample dumps, or with --check tells whether a
// directory holds them unchanged.
//   make_samples DIRECTORY
//   make_samples --check DIRECTORY

#include <cstdio>
#include <string>
#include <vector>

#include "tests/dump_fixture.h"

namespace {

using namespace dumpscan::fixture;

struct Sample {
  const char* name;
  std::vector<std::uint8_t> bytes;
};

std::vector<Sample> Samples() {
  auto broken_checksum = EncodeRecordBlock(123456);
  broken_checksum[1] ^= 0x01;  // first record's check nibble
  auto broken_parity = EncodeRecordBlock(32775);
  broken_parity[11] = 0x05;    // third record's step byte, even parity
  auto averaged = EncodeRecordBlock(32775);
  averaged[17] = 0x1C;         // last record one unit higher: the five average
  auto broken_word = EncodeCounterWord(3280000);
  broken_word[0] ^= 0x10;
  return {
      {"valid.bin", MakeDump(EncodeRecordBlock(123456), EncodeCounterWord(12345600))},
      {"checksum-error.bin", MakeDump(broken_checksum, EncodeCounterWord(12345600))},
      {"parity-error.bin", MakeDump(broken_parity, EncodeCounterWord(3277400))},
      {"averaged.bin", MakeDump(averaged, broken_word)},
      {"short.bin", MakeDump(EncodeRecordBlock(2), EncodeCounterWord(0), 1930)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: make_samples [--check] DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path directory = argv[argc - 1];
  int stale = 0;
  for (const Sample& sample : Samples()) {
    const auto path = directory / sample.name;
    if (!check) {
      WriteFile(path, sample.bytes);
    } else if (ReadFile(path) != std::string(sample.bytes.begin(), sample.bytes.end())) {
      std::fprintf(stderr, "%s differs from what make_samples writes\n", path.string().c_str());
      ++stale;
    }
  }
  return stale == 0 ? 0 : 1;
}
