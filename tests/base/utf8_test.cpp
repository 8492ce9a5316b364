#include "base/utf8.h"

#include <gtest/gtest.h>

namespace corvane::utf8 {
namespace {

TEST(Utf8, MalformedBytesStandForThemselves) {
  // Overlong "/", a surrogate, a cut sequence: each byte is its own -1.
  for (std::string bad :
       {std::string("\xC0\xAF"), std::string("\xED\xA0\x80"), std::string("\xE2\x82")}) {
    size_t i = 0;
    EXPECT_EQ(NextCodePoint(bad, i), -1) << bad.size();
    EXPECT_EQ(i, 1u);
    EXPECT_EQ(UpperCase(bad), bad);
  }
  size_t i = 0;
  EXPECT_EQ(NextCodePoint("\xE2\x82\xAC", i), 0x20AC);
  EXPECT_EQ(i, 3u);
}

TEST(Utf8, Utf16UnitsCountAndCutWithoutSplittingAPair) {
  const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600: two units
  EXPECT_EQ(Utf16Length("kundenäöü"), 9u);
  EXPECT_EQ(Utf16Length("1234567" + smile), 9u);
  EXPECT_EQ(FirstUtf16Units("1234567" + smile, 8), "1234567");
  EXPECT_EQ(FirstUtf16Units("customers", 8), "customer");
  EXPECT_EQ(UpperCase("customérs"), "CUSTOMÉRS");
}

// A byte of 0x80 or more anywhere, also in the middle of a long text.
TEST(Utf8, IsAsciiSeesEveryByte) {
  std::string long_text(200, 'a');
  EXPECT_TRUE(IsAscii("") && IsAscii("plain") && IsAscii(long_text));
  for (size_t at : {0u, 63u, 64u, 130u, 199u}) {
    std::string t = long_text;
    t[at] = static_cast<char>(0x80);
    EXPECT_FALSE(IsAscii(t)) << at;
  }
  EXPECT_FALSE(IsAscii("Z\xc3\xbcrich"));
}

}  // namespace
}  // namespace corvane::utf8
