// Name matching, name display and the UTF-8/UTF-16 conversions behind them.

#include <gtest/gtest.h>

#include <string>

#include "engine/dump_name.h"
#include "engine/utf.h"

namespace dumpscan {
namespace {

TEST(IsDumpNameTest, PointBinInAnyCaseAtTheEnd) {
  for (const char* name : {"a.bin", "A.BIN", "Dump.Bin", ".bin", "x.y.bIn", "\xFF.bin"})
    EXPECT_TRUE(IsDumpName(name)) << name;
  for (const char* name : {"x.bin.txt", "xbin", "bin", "", "a.bi", "a.bin ", "a_bin", "a.b1n"})
    EXPECT_FALSE(IsDumpName(name)) << name;
}

TEST(IsDumpNameTest, Utf16NamesFollowTheSameRule) {
  for (const char16_t* name : {u"a.bin", u"A.BIN", u"Dump.Bin", u".bin", u"\u65E5.bIn"})
    EXPECT_TRUE(IsDumpName(std::u16string_view(name))) << Utf16ToUtf8(name);
  for (const char16_t* name :
       {u"data.binary", u"DATA~1.BIN.txt", u"xbin", u"", u"a.b\u0130n", u"a.\uFF42in"})
    EXPECT_FALSE(IsDumpName(std::u16string_view(name))) << Utf16ToUtf8(name);
}

TEST(DisplayNameTest, DecodesUtf8AndNeutralisesWhatCouldBreakALine) {
  const struct {
    std::string bytes;
    std::u16string shown;
  } cases[] = {
      {"dump.bin", u"dump.bin"},
      {"\303\274ber.bin", u"\u00FCber.bin"},
      {"\xF0\x9F\x98\x80.bin", u"\U0001F600.bin"},
      {"\xFF.bin", u"\uFFFD.bin"},
      {"a\r\nb.bin", u"a\uFFFD\uFFFDb.bin"},
      {"\x1B[31m.bin", u"\uFFFD[31m.bin"},
      {"\x7F\xC2\x85\xC2\xA0.bin", u"\uFFFD\uFFFD\u00A0.bin"},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayName(c.bytes), c.shown) << c.bytes;
}

TEST(DisplayNameTest, Utf16NamesKeepEverythingButControlsAndUnpairedSurrogates) {
  const struct {
    std::u16string name;
    std::u16string shown;
  } cases[] = {
      {u"dump.bin", u"dump.bin"},
      {u"\u00FCber.bin", u"\u00FCber.bin"},
      {u"\U0001F600.bin", u"\U0001F600.bin"},
      {u"\xD800.bin", u"\uFFFD.bin"},                        // high, then no low
      {u"a\xDC00.bin", u"a\uFFFD.bin"},                      // low alone
      {u"\xDE00\xD83D.bin", u"\uFFFD\uFFFD.bin"},            // a pair the wrong way round
      {u"\xD83D\xD83D\xDE00.bin", u"\uFFFD\U0001F600.bin"},  // a stray high before a pair
      {u"x.bin\xD800", u"x.bin\uFFFD"},                      // high at the very end
      {u"a\r\nb.bin", u"a\uFFFD\uFFFDb.bin"},
      {u"\x1B[31m.bin", u"\uFFFD[31m.bin"},
      {u"\x7F\x85\xA0.bin", u"\uFFFD\uFFFD\u00A0.bin"},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayName(c.name), c.shown) << Utf16ToUtf8(c.name);
}

TEST(Utf8ToUtf16Test, EachMaximalIllFormedRunIsOneReplacement) {
  const struct {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong lead, then a stray continuation
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\xE2\x82", u"\uFFFD"},                            // cut short at the end
      {"\342\202A", u"\uFFFDA"},                          // cut short by a new character
      {"\xEF\xBF\xBD", u"\uFFFD"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.bytes), c.text);
}

TEST(Utf16ToUtf8Test, RoundTripsAndReplacesUnpairedSurrogates) {
  const std::u16string text = u"a\u00FC\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'\xDC00', u'a'}), "\357\277\275a");
}

TEST(AppendUtf16LeTest, LowByteFirstNoByteOrderMark) {
  std::string bytes;
  AppendUtf16Le(u"A\u20AC", bytes);
  EXPECT_EQ(bytes, std::string("A\0\xAC\x20", 4));
}

}  // namespace
}  // namespace dumpscan
