// What the drivers read out of statement text before anything runs, and the
// value forms the PostgreSQL driver turns server output into.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "connection/paradox_statement.h"
#include "postgres/pg_copy_text.h"
#include "postgres/pg_statement_scan.h"
#include "postgres/pg_value_text.h"
#include "connection/value.h"

namespace corvane {
namespace {

bool Single(const std::string& sql) { return ScanStatement(sql).single; }

TEST(StatementScan, OneStatementWithOrWithoutItsSemicolon) {
  for (const char* sql : {"SELECT 1", "select 1;", "SELECT 1 ;  \n", "SELECT 1;;",
                          "SELECT 1; -- done", "SELECT 1; /* done */", ""}) {
    EXPECT_TRUE(Single(sql)) << sql;
  }
  EXPECT_EQ(ScanStatement("select 1 ; ").body, "select 1 ");
  for (const char* sql : {"SELECT 1; DROP TABLE t", "SELECT 1;SELECT 2", "SELECT 1; 'x'",
                          "SELECT 1; -1", "INSERT INTO t VALUES (1);\nDELETE FROM t;"}) {
    EXPECT_FALSE(Single(sql)) << sql;
  }
}

TEST(StatementScan, SemicolonsInsideQuotesAndCommentsSeparateNothing) {
  for (const char* sql : {
           "SELECT ';'", "SELECT 'it''s; fine'", "SELECT \"a;b\" FROM t",
           "SELECT \"a\"\";b\" FROM t", "SELECT E'\\'; DROP TABLE t'", "SELECT $$; DROP TABLE t$$",
           "SELECT $fn$ ; $$ ; $fn$", "SELECT 1 -- ; DROP TABLE t\n",
           "SELECT 1 /* ; /* nested ; */ still ; */",
           "INSERT INTO \"x\" VALUES('O''Brien; DROP TABLE y', NULL)",
           "SELECT 'never closed; DROP TABLE t",  // the server refuses it whole
       }) {
    EXPECT_TRUE(Single(sql)) << sql;
  }
}

TEST(StatementScan, WhatLooksLikeAQuoteButIsNot) {
  // With standard_conforming_strings on, '\' is a whole string.
  EXPECT_FALSE(Single("SELECT '\\'; DROP TABLE t"));
  // $1 is a parameter and a$b$ an identifier, not dollar quotes.
  EXPECT_FALSE(Single("SELECT $1; DROP TABLE t"));
  EXPECT_FALSE(Single("SELECT a$b$c; DROP TABLE t"));
  // e'..' only after a blank: "name'" is an identifier then a plain string.
  EXPECT_FALSE(Single("SELECT name'\\'; DROP TABLE t"));
}

TEST(StatementScan, FirstWordSkipsBlanksParenthesesAndComments) {
  EXPECT_EQ(ScanStatement("  (select 1) union select 2").first_word, "SELECT");
  EXPECT_EQ(ScanStatement("/* c */ -- d\n with x as (select 1) select * from x").first_word,
            "WITH");
  EXPECT_EQ(ScanStatement("insert into t values (1)").first_word, "INSERT");
  EXPECT_EQ(ScanStatement(";").first_word, "");
}

TEST(ParadoxStatement, TheTwoShapesInTheirSpellings) {
  struct Case {
    const char* sql;
    ParadoxStatement::Kind kind;
    const char* table;
  };
  using K = ParadoxStatement::Kind;
  for (const Case& c : {
           Case{"SELECT * FROM \"Orders\"", K::kSelectAll, "Orders"},
           Case{"select *from orders;", K::kSelectAll, "orders"},
           Case{"  SELECT  *  FROM  \"My Table\" ; ", K::kSelectAll, "My Table"},
           Case{"SELECT * FROM \"a\"b\"", K::kSelectAll, "a\"b"},  // a lone quote as written
           Case{"SELECT * FROM \"WE\"\"IRD\"", K::kSelectAll, "WE\"IRD"},
           Case{"DROP TABLE `a``b```", K::kDropTable, "a`b`"},
           Case{"SELECT * FROM [x y]", K::kSelectAll, "x y"},
           Case{"DROP TABLE `P`", K::kDropTable, "P"},
           Case{"drop table \"P q\";", K::kDropTable, "P q"},
           Case{"DROP TABLE cust", K::kDropTable, "cust"},
       }) {
    auto st = ParseParadoxStatement(c.sql);
    ASSERT_TRUE(st) << c.sql;
    EXPECT_EQ(st->kind, c.kind) << c.sql;
    EXPECT_EQ(st->table, c.table) << c.sql;
  }
}

TEST(ParadoxStatement, EverythingElseIsRefused) {
  for (const char* sql :
       {"SELECT a FROM \"T\"", "SELECT * FROMT", "SELECT * FROM", "SELECT * FROM \"\"",
        "SELECT * FROM T U", "SELECT * FROM T; DROP TABLE `U`", "DELETE FROM T", "DROP TABLES `T`",
        "DROP TABLE", "CREATE TABLE `T`(`a` INT)", "", ";"}) {
    EXPECT_FALSE(ParseParadoxStatement(sql)) << sql;
  }
}

std::string Text(unsigned oid, const char* server) {
  std::string out;
  PgValueText(oid, server, out);
  return out;
}

TEST(PgValueText, FixedFormsFromServerOutput) {
  EXPECT_EQ(Text(16, "t"), "True");
  EXPECT_EQ(Text(16, "f"), "False");
  EXPECT_EQ(Text(790, "$1,234,567.89"), "1234567.89");
  EXPECT_EQ(Text(790, "-$0.05"), "-0.05");
  EXPECT_EQ(Text(790, "($12.00)"), "-12.00");
  EXPECT_EQ(Text(790, "-$92,233,720,368,547,758.08"), "-92233720368547758.08");
  // Floats as std::to_chars writes the same number.
  EXPECT_EQ(Text(701, "1.2345678901234568e+17"), "123456789012345680");
  EXPECT_EQ(Text(701, "1e+15"), "1e+15");
  EXPECT_EQ(Text(701, "1e-07"), "1e-07");
  EXPECT_EQ(Text(701, "-1000"), "-1000");
  EXPECT_EQ(Text(701, "0.1"), "0.1");
  EXPECT_EQ(Text(701, "5e-324"), "5e-324");
  EXPECT_EQ(Text(700, "0.1"), "0.1");
  EXPECT_EQ(Text(700, "3.4028235e+38"), "3.4028235e+38");
  for (const char* s : {"NaN", "Infinity", "-Infinity"}) EXPECT_EQ(Text(701, s), s);
  // A timestamptz is the session's wall time: its offset goes, its era stays.
  const std::pair<const char*, const char*> kZoned[] = {
      {"2024-02-29 13:14:15+00", "2024-02-29 13:14:15"},
      {"2024-02-29 13:14:15.5-03:30", "2024-02-29 13:14:15.5"},
      {"0044-03-15 10:00:00+00:53:28 BC", "0044-03-15 10:00:00 BC"},
      {"12345-01-01 00:00:00+01", "12345-01-01 00:00:00"},
      {"infinity", "infinity"},
      {"-infinity", "-infinity"}};
  for (const auto& [server, wall] : kZoned) EXPECT_EQ(Text(1184, server), wall);
  // Everything else exactly as printed: no digit or microsecond cut.
  for (const char* s : {"12345678901234567890.000000000001", "0044-03-15 BC",
                        "2024-02-29 23:59:59.999999+00", "\\x00ff", "-9223372036854775808"}) {
    EXPECT_EQ(Text(1700, s), s);
  }
}

// Whatever notation and digits the server chose (fixed or scientific,
// shortest or 17 digits), a float comes out as to_chars prints its number;
// a text taken as it stands is exactly that.
TEST(PgValueText, FloatsComeOutAsToCharsPrintsThem) {
  const uint64_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  std::vector<double> values = {0.0, -0.0, 0.5, 100, 0.0001, 0.001, 1e14, 1e15, 1e16, 0.1,
                                1.0 / 3, 2.5e-5, 1234567.125, -42, 9007199254740993.0, 1e21,
                                123456789012345680.0, 5e-324, 1.7976931348623157e308};
  for (int i = 0; i < 3000; ++i) {
    double d = 0;
    const uint64_t bits = random();
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
    // Short decimals of every size, where fixed and scientific compete.
    values.push_back(static_cast<double>(random() % 100000) / std::pow(10.0, random() % 24) *
                     std::pow(10.0, random() % 24));
  }
  char server[512], expected[512];
  for (const bool single : {false, true}) {
    for (const double value : values) {
      const float narrow = static_cast<float>(value);
      auto print = [&](char* out, std::chars_format format) {
        const auto r = single ? std::to_chars(out, out + 511, narrow, format)
                              : std::to_chars(out, out + 511, value, format);
        *r.ptr = '\0';
      };
      if (single && !std::isfinite(narrow)) continue;
      const auto end = single ? std::to_chars(expected, expected + 511, narrow)
                              : std::to_chars(expected, expected + 511, value);
      *end.ptr = '\0';
      const unsigned oid = single ? 700 : 701;
      for (const auto format : {std::chars_format::fixed, std::chars_format::scientific}) {
        print(server, format);
        EXPECT_EQ(Text(oid, server), expected) << server;
        if (PgValueTextIsServerText(oid, server)) {
          EXPECT_STREQ(server, expected);
        }
      }
      std::snprintf(server, sizeof server, "%.17g", value);
      if (!single) {
        EXPECT_EQ(Text(oid, server), expected) << server;
      }
    }
  }
}

TEST(PgValueText, TypeCodes) {
  const std::pair<unsigned, int> kCodes[] = {{21, 2},     {23, 3},     {20, 20},
                                             {700, 4},    {701, 5},    {1700, 131},
                                             {790, 6},    {16, 11},    {1042, 130},
                                             {1043, 202}, {19, 202},   {25, 203},
                                             {1082, 133}, {1083, 134}, {1114, 135},
                                             {1184, 135}, {17, 205},   {2950, 72},
                                             {1186, 203}, {114, 203}};  // interval, json: text
  for (auto [oid, code] : kCodes) EXPECT_EQ(PgTypeCode(oid), code) << oid;
}

// Rows of COPY's text format back into fields: the escapes the server
// writes and those it reads back, \N against a text that reads "\N", and a
// row of the wrong width refused.
TEST(CopyRow, FieldsComeBackAsTheServerHadThem) {
  struct Case {
    std::string line;
    size_t columns;
    std::vector<const char*> fields;  // nullptr for null; empty when refused
  };
  const std::vector<Case> cases = {
      {"1\tabc\t\\N\n", 3, {"1", "abc", nullptr}},
      {"\t\n", 2, {"", ""}},
      {"a\\tb\\nc\\rd\\\\e", 1, {"a\tb\nc\rd\\e"}},
      {"\\b\\f\\v\\101\\x41\\x4a\\q", 1, {"\b\f\vAAJq"}},
      {"\\\\N\t\\N", 2, {"\\N", nullptr}},
      {"Zo\xc3\xab\t\\x", 2, {"Zo\xc3\xab", "x"}},
      {"1\t2\t3", 2, {}},
      {"1", 2, {}},
      {"", 0, {}},
  };
  CopyRow row;
  for (const Case& c : cases) {
    std::string line = c.line;  // decoded in place
    const bool whole = row.Decode(line.data(), line.size(), c.columns);
    ASSERT_EQ(whole, !c.fields.empty() || c.columns == 0) << c.line;
    for (size_t i = 0; whole && i < c.fields.size(); ++i) {
      EXPECT_EQ(row.is_null(i), c.fields[i] == nullptr) << c.line << " field " << i;
      if (c.fields[i]) {
        EXPECT_EQ(row.field(i), c.fields[i]) << c.line << " field " << i;
      }
    }
  }
}

// Messages of the binary format: the header before the first row, a null,
// an empty and a raw field, the trailer; any length that reaches past the
// message, a wrong field count or bytes left over refuse the message.
TEST(CopyRow, BinaryMessagesAndEveryWayTheyCanBeCutShort) {
  const std::string header("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
  const std::string row("\0\3\xff\xff\xff\xff\0\0\0\0\0\0\0\2\0\xfe", 16);
  CopyRow first;
  std::string m = header + row;
  bool trailer = true;
  ASSERT_TRUE(first.DecodeBinary(m.data(), m.size(), 3, trailer));
  EXPECT_FALSE(trailer);
  EXPECT_TRUE(first.is_null(0));
  EXPECT_FALSE(first.is_null(1));
  EXPECT_EQ(first.field(1), "");
  EXPECT_EQ(first.field(2), std::string("\0\xfe", 2));
  m = row;  // the header comes once
  ASSERT_TRUE(first.DecodeBinary(m.data(), m.size(), 3, trailer));
  m = "\xff\xff";
  ASSERT_TRUE(first.DecodeBinary(m.data(), m.size(), 3, trailer));
  EXPECT_TRUE(trailer);
  for (size_t cut = 0; cut < header.size() + row.size(); ++cut) {
    CopyRow fresh;
    std::string part = (header + row).substr(0, cut);
    EXPECT_FALSE(fresh.DecodeBinary(part.data(), part.size(), 3, trailer)) << cut;
  }
  for (const std::string& bad : {header + row + "x", header + row.substr(0, 10) + "\0\0\0\3\0\xfe",
                                 std::string("PGCOPY\n\377\r\n\1") + header.substr(11) + row}) {
    CopyRow fresh;
    std::string copy = bad;
    EXPECT_FALSE(fresh.DecodeBinary(copy.data(), copy.size(), 3, trailer)) << bad.size();
  }
  CopyRow fresh;
  m = header + row;
  EXPECT_FALSE(fresh.DecodeBinary(m.data(), m.size(), 2, trailer));
}

// A large field taken out of the row gives up its pages in the row buffer;
// the fields beside it, on pages it shares with them, stay as they were.
TEST(CopyRow, ALargeFieldTakenOutLeavesItsNeighboursIntact) {
  std::string large;
  for (int i = 0; i < 300000; ++i) large += "ab\\\\\\tc\\n\\303\\251";  // as COPY writes it
  std::string expected;
  for (int i = 0; i < 300000; ++i) expected += "ab\\\tc\n\xc3\xa9";
  std::string line = "left\t" + large + "\tright\n";
  CopyRow row;
  ASSERT_TRUE(row.Decode(line.data(), line.size(), 3));
  EXPECT_TRUE(row.TakeField(1) == expected);
  EXPECT_EQ(row.field(0), "left");
  EXPECT_EQ(row.field(2), "right");
}

}  // namespace
}  // namespace corvane
