// Writes the bundled sample dumps, or with --check tells whether a
// directory holds them unchanged, or with --many writes COUNT numbered dumps
// of mixed readings for timing runs (making the directory when it is not
// there). Anything else, or a directory it cannot write, is answered on
// standard error with a failing status: a fixture that was not written
// must not pass for one that was.
//   make_samples DIRECTORY
//   make_samples --check DIRECTORY
//   make_samples --many COUNT DIRECTORY

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
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
  broken_parity[11] = 0x05;  // third record's step byte, even parity
  auto averaged = EncodeRecordBlock(32775);
  averaged[17] = 0x1C;  // last record one unit higher: the five average
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

// Dump `i` of a timing set. The mix keeps every path of the decoders busy:
// valid readings of changing distances, each kind of check failure, and
// dumps too short for one or both ranges.
std::vector<std::uint8_t> NumberedDump(std::uint32_t i) {
  const std::uint32_t distance = 100000 + (i * 7919u) % 900000;
  const std::uint32_t count = 10000000 + (i * 104729u) % 89999999;
  auto block = EncodeRecordBlock(distance);
  auto word = EncodeCounterWord(count);
  switch (i % 10) {
    case 6:
      block[1 + 4 * (i % 5)] ^= 0x01;
      break;  // a record's check nibble
    case 7:
      block[3 + 4 * (i % 5)] ^= 0x01;
      break;  // a step byte's parity
    case 8:
      word[0] ^= 0x10;
      break;  // the counter word's nibble
    case 9:
      return MakeDump(block, word, i % 20 == 9 ? 1930 : 1000);
    default:
      break;
  }
  return MakeDump(block, word);
}

constexpr int kUsageError = 2;

int Usage() {
  std::fputs("usage: make_samples DIRECTORY | --check DIRECTORY | --many COUNT DIRECTORY\n",
             stderr);
  return kUsageError;
}

int WriteFailed(const std::filesystem::path& path) {
  std::fprintf(stderr, "make_samples: could not write %s\n", path.string().c_str());
  return 1;
}

bool IsDirectory(const std::filesystem::path& directory) {
  std::error_code error;
  return std::filesystem::is_directory(directory, error);
}

int WriteMany(const char* count_text, const std::filesystem::path& directory) {
  char* end = nullptr;
  const unsigned long count = std::strtoul(count_text, &end, 10);
  if (end == count_text || *end != '\0' || count_text[0] == '-' || count > 10000000) {
    std::fprintf(stderr, "make_samples: bad count %s\n", count_text);
    return Usage();
  }
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!IsDirectory(directory)) return WriteFailed(directory);
  char name[32];
  for (std::uint32_t i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "dump-%07u.bin", static_cast<unsigned>(i));
    if (!WriteFile(directory / name, NumberedDump(i))) return WriteFailed(directory / name);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  if (args.size() == 3 && args[0] == "--many") return WriteMany(argv[2], args[2]);
  const bool check = args.size() == 2 && args[0] == "--check";
  // One directory, which must be there; an option it does not know is not
  // taken for a directory's name.
  if (!check && (args.size() != 1 || args[0].starts_with('-'))) return Usage();
  const std::filesystem::path directory = args.back();
  if (!IsDirectory(directory)) {
    std::fprintf(stderr, "make_samples: %s is not a directory\n", directory.string().c_str());
    return Usage();
  }
  int stale = 0;
  for (const Sample& sample : Samples()) {
    const auto path = directory / sample.name;
    if (!check) {
      if (!WriteFile(path, sample.bytes)) return WriteFailed(path);
    } else if (ReadFile(path) != std::string(sample.bytes.begin(), sample.bytes.end())) {
      std::fprintf(stderr, "%s differs from what make_samples writes\n", path.string().c_str());
      ++stale;
    }
  }
  return stale == 0 ? 0 : 1;
}
