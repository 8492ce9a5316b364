// Code-page conversion both ways: nothing lost, nothing substituted.
#include "paradox/code_page.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/utf8.h"
#include "paradox/table_writer.h"
#include "paradox/writer_support.h"

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
  // A lead byte whose trail byte does not belong to it reads as itself and
  // loses nothing (iconv's cp949 skipped both bytes of A2 E8).
  EXPECT_EQ(ToUtf8("\xa2\xe8\xd6", 949).value(), "\u00A2\u962E");
  EXPECT_EQ(ToUtf8("ok\x81", 932).value(), "ok\u0081");
}

// The code page a new table is written in: the first that holds all of its
// text, the script choosing among the double-byte ones.
TEST(CodePageTest, ATablesTextChoosesItsCodePageAndDriver) {
  const std::pair<const char*, int> kCases[] = {
      {"plain", 1252},         {"Grüße €", 1252},      {"Привет", 1251},
      {"Привет ╔═╗", 866},     {"Ελλάδα", 1253},       {"İstanbul ığdır", 1254},
      {"שלום", 1255},          {"مرحبا", 1256},        {"Zażółć", 1250},
      {"ąčęšž", 1250},         {"ภาษาไทย", 874},       {"日本語のテキスト", 932},
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

std::string CodePointText(uint32_t c) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", c);
  return hex;
}

// Over every code point: a character either comes back as itself (or, when
// only its composed form fits, as that) or is refused, and the choice of a
// table's code page agrees with the converter. What is held goes through a
// written table, read back by our reader and by pxlib.
TEST(CodePageTest, EveryCharacterOfEveryCodePageWeWriteRoundTripsOrIsRefused) {
  testing::ScratchFolder dir;
  for (int cp : ExportCodePages()) {
    SCOPED_TRACE("code page " + std::to_string(cp));
    const CodePageChoice forced(cp);
    std::vector<std::string> held;
    size_t refused = 0;
    for (uint32_t c = 1; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      std::string u;
      utf8::AppendCodePoint(u, static_cast<long>(c));
      Result<std::string> bytes = FromUtf8(u, cp);
      ASSERT_EQ(bytes.ok(), forced.Holds(u)) << CodePointText(c);
      if (!bytes.ok()) {
        // Spot checks: the message names the character and the code page.
        if (++refused % 4099 == 0) {
          const std::string& m = bytes.status().message();
          EXPECT_NE(m.find(CodePointText(c)), std::string::npos) << m;
          EXPECT_NE(m.find("code page " + std::to_string(cp)), std::string::npos) << m;
        }
        continue;
      }
      const std::string back = ToUtf8(*bytes, cp).value();
      if (back != u) {
        ASSERT_NE(Nfc(u), u) << CodePointText(c) << " came back as " << back;
        ASSERT_EQ(back, Nfc(u)) << CodePointText(c);
        continue;
      }
      held.push_back(u + ".");
    }
    EXPECT_GE(held.size(), IsDoubleByteCodePage(cp) ? 7000u : 200u);

    // One character a row: pxlib reads a value it cannot convert (a byte
    // the code page leaves undefined) as nothing, and only that row. The
    // "." lets out a letter pxlib's cp1255 and cp1258 converters hold back
    // in case a mark follows.
    const std::string path = dir.File("cp" + std::to_string(cp) + ".db");
    auto w = TableWriter::Create(path, {{"T", FieldType::kAlpha, 3, 0}}, cp, held.size());
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (const std::string& c : held) ASSERT_TRUE((*w)->Append({testing::Text(c)}).ok()) << c;
    ASSERT_TRUE((*w)->Finish(TableWriter::Replace::kNever).ok());
    const testing::ReadBack ours = testing::ReadWithOurReader(path);
    ASSERT_EQ(ours.error, "");
    EXPECT_EQ(ours.info.code_page, cp);
    const testing::PxReadBack px = testing::ReadWithPxlib(path);
    ASSERT_EQ(px.error, "");
    ASSERT_EQ(ours.rows.size(), held.size());
    ASSERT_EQ(px.rows.size(), held.size());
    size_t px_unread = 0;
    for (size_t r = 0; r < held.size(); ++r) {
      EXPECT_EQ(ours.rows[r][0].text, held[r]);
      if (px.rows[r][0].text.empty()) {
        ++px_unread;
      } else {
        EXPECT_EQ(px.rows[r][0].text, held[r]);
      }
    }
    EXPECT_LE(px_unread, IsDoubleByteCodePage(cp) ? 0u : 32u);
  }
}

// Characters cp932's converter used to change into look-alikes, tag
// characters, and text a Western code page holds once composed.
TEST(CodePageTest, LookAlikesAndTagsAreRefusedAndAccentsAreComposed) {
  for (const char* c : {"¥", "〜", "—", "‖", "−", "‾", "¢", "£", "¬"}) {
    Result<std::string> bytes = FromUtf8(std::string("テスト") + c, 932);
    ASSERT_FALSE(bytes.ok()) << c << " became " << ToUtf8(*bytes, 932).value();
    EXPECT_NE(bytes.status().message().find(std::string("\"") + c +
                                            "\" cannot be stored in code page 932"),
              std::string::npos)
        << bytes.status().message();
    // Left to choose, a code page that holds it as it is may take it.
    CodePageChoice choice;
    const std::string text = std::string("テスト") + c;
    if (choice.Admit(text).ok()) {
      EXPECT_EQ(ToUtf8(FromUtf8(text, choice.Best()).value(), choice.Best()).value(), text);
    }
  }
  // Their fullwidth forms are cp932's own.
  EXPECT_EQ(ToUtf8(FromUtf8("￥～―∥－￠￡￢＼", 932).value(), 932).value(), "￥～―∥－￠￡￢＼");

  const std::string tagged = "x\xF3\xA0\x80\x81y";  // U+E0001 between x and y
  CodePageChoice choice;
  const Status tag = choice.Admit(tagged);
  EXPECT_NE(tag.message().find("U+E0001"), std::string::npos) << tag.message();
  for (int cp : ExportCodePages()) EXPECT_FALSE(FromUtf8(tagged, cp).ok()) << cp;
  ASSERT_TRUE(choice.Admit("plain").ok());
  EXPECT_EQ(choice.Best(), 1252);
  ASSERT_TRUE(choice.Admit("שלום").ok());  // the tag left no trace on the choice
  EXPECT_EQ(choice.Best(), 1255);

  struct Case {
    const char* text;  // decomposed
    int code_page;
    const char* written;  // read back
  };
  const Case cases[] = {
      {"cafe\u0301", 1252, "café"},
      {"nai\u0308ve Gro\u0308\u00DFe", 1252, "naïve Größe"},
      {"Z\u0307o\u0301\u0142c\u0301", 1250, "Żółć"},
      {"\u0419\u0430", 1251, "Йа"},  // already composed: left alone
      {"И\u0306", 1251, "Й"},
      // Hebrew points are cp1255's own: kept in their order, not reordered.
      {"\u05D1\u05BC\u05B7", 1255, "\u05D1\u05BC\u05B7"},
  };
  for (const Case& c : cases) {
    CodePageChoice pages;
    ASSERT_TRUE(pages.Admit(c.text).ok()) << c.text;
    EXPECT_EQ(pages.Best(), c.code_page) << c.text;
    EXPECT_EQ(ToUtf8(FromUtf8(c.text, c.code_page).value(), c.code_page).value(), c.written);
  }
}

// Baltic and Vietnamese text has no driver: refused, naming the code page,
// unless asked for.
TEST(CodePageTest, ACodePageWithoutADriverIsTakenOnlyWhenForced) {
  for (const auto& [text, code_page] :
       {std::pair<const char*, int>{"ąčęėįšųūž", 1257}, {"ư\u0301", 1258}}) {
    CodePageChoice choice;
    const Status refused = choice.Admit(text);
    EXPECT_NE(refused.message().find("code page " + std::to_string(code_page) +
                                     ", for which Paradox has no language driver"),
              std::string::npos)
        << refused.message();
    EXPECT_EQ(choice.Best(), 1252);
    CodePageChoice forced(code_page);
    EXPECT_TRUE(forced.Admit(text).ok()) << text;
    EXPECT_EQ(forced.Best(), code_page);
  }
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
