#include "ui/display_text.h"

#include <gtest/gtest.h>

#include "base/utf8.h"
#include "ui/procedure.h"

namespace corvane::ui {
namespace {

size_t CodePoints(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) utf8::NextCodePoint(s, i);
  return n;
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// What was kept must be the original's start and end, and the count must
// say exactly how many characters lie between them.
void ExpectFaithfulCut(const std::string& original, const std::string& shown) {
  const std::string open = " \u2026 (", close = " characters left out) \u2026 ";
  const size_t at = shown.find(open);
  ASSERT_NE(at, std::string::npos) << shown;
  const size_t end = shown.find(close, at);
  ASSERT_NE(end, std::string::npos);
  const std::string head = shown.substr(0, at);
  const std::string tail = shown.substr(end + close.size());
  const size_t left_out = std::stoul(shown.substr(at + open.size(), end - at - open.size()));
  EXPECT_EQ(original.compare(0, head.size(), head), 0);
  ASSERT_LE(tail.size(), original.size());
  EXPECT_EQ(original.compare(original.size() - tail.size(), tail.size(), tail), 0);
  EXPECT_EQ(CodePoints(head) + left_out + CodePoints(tail), CodePoints(original));
  EXPECT_TRUE(utf8::IsValid(shown));
}

TEST(ShortenForDisplay, KeepsShortTextsAndCutsLongOnesFaithfully) {
  const std::string statement_head = "INSERT INTO \"NOTES\" (\"ID\", \"BODY\") VALUES (7, '";
  struct Case {
    const char* what;
    std::string description;
    std::string statement;  // empty: no "sql: " tail
    bool cut;
    size_t max_lines;  // of what is shown
  } cases[] = {
      {"a short statement", "duplicate key", "INSERT INTO \"T\" VALUES (1)", false, 8},
      {"a 300 KB memo", "value too long", statement_head + Repeat("x", 300000) + "')", true, 10},
      {"a memo of two-byte characters", "bad", statement_head + Repeat("\u00e9", 100000) + "')",
       true, 10},
      {"a memo of many lines", "bad", statement_head + Repeat("line\r\n", 5000) + "')", true, 12},
      {"a long description, no statement", Repeat("word ", 2000), "", true, 30},
      {"a long description and a long statement", Repeat("no\n", 100),
       statement_head + Repeat("y", 5000) + "')", true, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = FailureText(c.description, kTagPrefix, "Form2.PushButton4_Click", 118,
                                         c.statement.empty() ? nullptr : &c.statement);
    const std::string shown = ShortenForDisplay(text);
    if (!c.cut) {
      EXPECT_EQ(shown, text);
      continue;
    }
    EXPECT_LT(shown.size(), 4000u);
    size_t lines = 1;
    for (char ch : shown) lines += ch == '\n' || ch == '\r';
    EXPECT_LE(lines, c.max_lines + 6);  // the failure text's own breaks
    if (!c.statement.empty() && c.description.size() < 100) {
      // The description, tag and address stay whole; only the statement is cut.
      const std::string before = text.substr(0, text.find("sql: ") + 5);
      ASSERT_EQ(shown.compare(0, before.size(), before), 0);
      ExpectFaithfulCut(c.statement, shown.substr(before.size()));
    } else if (c.statement.empty()) {
      ExpectFaithfulCut(text, shown);
    }
  }
}

}  // namespace
}  // namespace corvane::ui
