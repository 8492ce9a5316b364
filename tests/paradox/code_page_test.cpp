// Code-page conversion both ways: nothing lost, nothing substituted.
#include "paradox/code_page.h"

#include <gtest/gtest.h>

namespace corvane::paradox {
namespace {

TEST(CodePageTest, EveryByteOfEverySingleBytePageSurvivesARoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (int cp : {437, 737,  850,  852,  857,  860,  861,  863,  865,  866, 869,
                 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    Result<std::string> utf8 = ToUtf8(all, cp);
    ASSERT_TRUE(utf8.ok()) << cp;
    Result<std::string> back = FromUtf8(*utf8, cp);
    ASSERT_TRUE(back.ok()) << cp << ": " << back.status().message();
    EXPECT_EQ(*back, all) << cp;
  }
}

TEST(CodePageTest, KnownCharacters) {
  EXPECT_EQ(ToUtf8("\x80\x81 \xe9", 1252).value(), "€\xC2\x81 é");  // 0x81 is undefined in 1252
  EXPECT_EQ(ToUtf8("\x8f\xe0\xa8", 866).value(), "При");
  EXPECT_EQ(ToUtf8("\x81\xe1", 437).value(), "üß");
  EXPECT_EQ(ToUtf8("\xc4\xe3\xba\xc3", 936).value(), "你好");
  EXPECT_EQ(FromUtf8("你好 ok", 936).value(), "\xc4\xe3\xba\xc3 ok");
  EXPECT_EQ(FromUtf8("Łódź", 852).value(), "\x9d\xa2\x64\xab");
  // cp1255's converter holds a letter back until it knows no mark follows.
  EXPECT_EQ(ToUtf8("\xf9\xec\xe5\xed", 1255).value(), "שלום");
  EXPECT_EQ(ToUtf8("\xeb\xf8\xbe\xf4", kRoman8CodePage).value(), "Š½ƒ¶");
}

// The code page a new table is written in: the first that holds all of its
// text, the script choosing among the double-byte ones.
TEST(CodePageTest, ATablesTextChoosesItsCodePageAndDriver) {
  const std::pair<const char*, int> kCases[] = {
      {"plain", 1252},         {"Grüße €", 1252},      {"Привет", 1251},
      {"Привет ╔═╗", 866},     {"Ελλάδα", 1253},       {"İstanbul ığdır", 1254},
      {"שלום", 1255},          {"مرحبا", 1256},        {"Zażółć", 1250},
      {"ąčęėįšųūž", 1257},     {"ภาษาไทย", 874},       {"日本語のテキスト", 932},
      {"한국어", 949},         {"繁體中文", 950},      {"简体中文", 936},
      {"Ç ░▒▓ ∞", 437}};
  for (const auto& [text, code_page] : kCases) {
    CodePageChoice choice;
    EXPECT_TRUE(choice.Admit(text).ok()) << text;
    EXPECT_EQ(choice.Best(), code_page) << text;
    EXPECT_TRUE(FromUtf8(text, code_page).ok()) << text;
  }
  EXPECT_STREQ(LanguageDriverFor(1251).name, "ancyrr");
  EXPECT_EQ(LanguageDriverFor(866).sort_byte, 0xC0);
  // Text no code page holds, or none together with what came before.
  CodePageChoice mixed;
  EXPECT_FALSE(mixed.Admit("😀").ok());
  ASSERT_TRUE(mixed.Admit("Привет").ok());
  const Status arabic = mixed.Admit("مرحبا");
  EXPECT_NE(arabic.message().find("U+0645"), std::string::npos) << arabic.message();
  EXPECT_EQ(mixed.Best(), 1251);
  CodePageChoice forced(866);
  const Status refused = forced.Admit("é");
  EXPECT_NE(refused.message().find("code page 866"), std::string::npos) << refused.message();
  EXPECT_EQ(ParseExportCodePage(" Auto ").value(), 0);
  EXPECT_EQ(ParseExportCodePage("").value(), 0);
  EXPECT_EQ(ParseExportCodePage("932").value(), 932);
  EXPECT_FALSE(ParseExportCodePage("65001").ok());
  EXPECT_FALSE(ParseExportCodePage("12x").ok());
}

TEST(CodePageTest, UnrepresentableAndInvalidTextIsRefusedNotReplaced) {
  Result<std::string> euro = FromUtf8("price €5", 437);
  ASSERT_FALSE(euro.ok());
  EXPECT_EQ(euro.status().message(),
            "the character U+20AC \"€\" cannot be stored in code page 437");
  Result<std::string> cjk = FromUtf8("ok 你", 1252);
  ASSERT_FALSE(cjk.ok());
  EXPECT_NE(cjk.status().message().find("U+4F60"), std::string::npos);
  EXPECT_FALSE(FromUtf8("\xe9t\xe9", 1252).ok());  // Latin-1 bytes, not UTF-8
  EXPECT_FALSE(FromUtf8("\xc0\x80", 1252).ok());   // overlong NUL
  EXPECT_FALSE(FromUtf8("한", 936).ok());
  EXPECT_EQ(ToUtf8("x", 4242).status().code(), Status::Code::kNotSupported);
  EXPECT_EQ(FromUtf8("x", 4242).status().code(), Status::Code::kNotSupported);
}

}  // namespace
}  // namespace corvane::paradox
