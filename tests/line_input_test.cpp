#include "console/line_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace dumpscan {
namespace {

// Serves `bytes` in reads of at most `chunk` bytes, then ends with `end`.
struct ScriptedInput {
  std::string bytes;
  std::size_t chunk;
  InputStatus end = InputStatus::kEnd;
  std::size_t at = 0;

  InputRead operator()(std::span<std::byte> room) {
    if (at == bytes.size()) return {0, end};
    const std::size_t n = std::min({chunk, room.size(), bytes.size() - at});
    std::copy_n(reinterpret_cast<const std::byte*>(bytes.data() + at), n, room.data());
    at += n;
    return {n, InputStatus::kData};
  }
};

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::vector<std::u16string> ReadLines(const std::string& bytes, std::size_t chunk,
                                      std::size_t count, InputStatus end = InputStatus::kEnd) {
  PendingInput pending;
  ScriptedInput input{bytes, chunk, end};
  const RawInputReader read = std::ref(input);
  std::vector<std::u16string> lines;
  for (std::size_t k = 0; k < count; ++k) lines.push_back(ReadRedirectedLine(pending, read));
  return lines;
}

const std::u16string kEnd(1, u'\x04');

TEST(ReadRedirectedLineTest, LineBreaksAndEndOfInputWhateverTheChunking) {
  const struct {
    std::string bytes;
    std::vector<std::u16string> lines;
  } cases[] = {
      {"", {kEnd, kEnd}},
      {Utf16Le(u"abc"), {u"abc", kEnd}},
      {Utf16Le(u"a\r\nb\nc\rd"), {u"a", u"b", u"c", u"d", kEnd}},
      {Utf16Le(u"\n\r"), {u"", u"", kEnd}},  // LF then CR: two breaks
      {Utf16Le(u"\r\n\r\n"), {u"", u"", kEnd}},
      {Utf16Le(u"\u00FC\u20AC\n"), {u"\u00FC\u20AC", kEnd}},
      {Utf16Le(u"ab") + "c", {u"ab", kEnd}},    // a lone last byte is no unit
      {std::string("a\0\r", 3), {u"a", kEnd}},  // nor is it a break
  };
  for (const auto& c : cases) {
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{8192}}) {
      EXPECT_EQ(ReadLines(c.bytes, chunk, c.lines.size()), c.lines)
          << "case of " << c.bytes.size() << " bytes in chunks of " << chunk;
    }
  }
}

TEST(ReadRedirectedLineTest, AReadErrorReturnsWhatWasGatheredWithoutTheEndMark) {
  EXPECT_EQ(ReadLines(Utf16Le(u"ab"), 1, 1, InputStatus::kError),
            std::vector<std::u16string>{u"ab"});
  EXPECT_EQ(ReadLines("", 1, 1, InputStatus::kError), std::vector<std::u16string>{u""});
}

TEST(ReadRedirectedLineTest, AnOverlongLineIsCutAndTheNextLineKept) {
  const std::u16string longer(kMaxLineUnits + 5000, u'x');
  const auto lines = ReadLines(Utf16Le(longer + u"\nnext\n"), 8192, 2);
  EXPECT_EQ(lines[0], longer.substr(0, kMaxLineUnits));
  EXPECT_EQ(lines[1], u"next");
}

}  // namespace
}  // namespace dumpscan
