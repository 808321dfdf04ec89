#include "tests/run_tool.h"

#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <system_error>

#include "tests/dump_fixture.h"

namespace dumpscan::testing_support {

namespace {

std::u16string DecodeUtf16Le(const std::string& bytes) {
  std::u16string text;
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                                  (static_cast<unsigned char>(bytes[k + 1]) << 8));
  }
  return text;
}

}  // namespace

std::string ExpectedOutput(const ExpectedDumps& dumps, const std::string& actual) {
  // Names in the order the tool printed them: the first line, then each
  // line after an empty one, up to the prompt.
  std::vector<std::u16string> order;
  std::set<std::u16string> placed;
  const std::u16string text = DecodeUtf16Le(actual);
  bool at_name = true;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos;
       start = end + 2) {
    const std::u16string line = text.substr(start, end - start);
    if (at_name && dumps.contains(line) && placed.insert(line).second) order.push_back(line);
    at_name = line.empty();
  }
  for (const auto& entry : dumps) {
    if (placed.insert(entry.first).second) order.push_back(entry.first);
  }

  std::string bytes;
  for (const std::u16string& name : order) {
    bytes += fixture::Utf16LeLines({name});
    for (const std::u16string& line : dumps.at(name)) bytes += fixture::Utf16LeLines({line});
    bytes += fixture::Utf16LeLines({u""});
  }
  return bytes + fixture::Utf16LeLines({u"Press ENTER"});
}

ScratchDirectory::ScratchDirectory() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("dumpscan-test-" + std::to_string(stamp) + "-" + std::to_string(std::random_device{}()) +
           "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace dumpscan::testing_support
