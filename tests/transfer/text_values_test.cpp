// Text in every language Paradox's language drivers cover: a new table is
// written in a code page that holds all of it, with the matching driver in
// its header, and tables in DOS and Windows code pages survive a trip to
// PostgreSQL and back.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <paradox.h>
}

#include "paradox/table_writer.h"
#include "paradox/writer_support.h"
#include "pxlib_table.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using Cells = std::vector<std::optional<std::string>>;

class LanguagesTest : public ToParadoxTest {};

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST_F(LanguagesTest, EachLanguageIsWrittenInACodePageThatHoldsIt) {
  struct Case {
    const char* table;
    const char* column;  // the name column, named in the language
    const char* name;
    const char* memo;
    const char* forced;  // the code-page setting
    int code_page;
    const char* driver;
  };
  const Case cases[] = {
      {"lang_ru", "имя", "Съешь же ещё этих мягких булок", "Широкая электрификация", "", 1251,
       "ancyrr"},
      {"lang_el", "όνομα", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία", "Γαζέες μυρτιές", "", 1253,
       "angreek1"},
      {"lang_tr", "ad", "Pijamalı hasta yağız şoföre çabucak güvendi", "İstanbul Iğdır", "",
       1254, "ANTURK"},
      // pxlib's converter holds a final Hebrew letter back: the "!" lets it out.
      {"lang_he", "שם", "דג סקרן שט בים מאוכזב!", "ולפתע מצא לו חברה", "", 1255, "ANHEBREW"},
      {"lang_pl", "nazwa", "Zażółć gęślą jaźń", "Pchnąć w tę łódź jeża", "", 1250, "anczech"},
      {"lang_ja", "名前", "いろはにほへと 色は匂へど", "ちりぬるを 日本語のテキスト", "", 932,
       "japan"},
      {"lang_ko", "이름", "다람쥐 헌 쳇바퀴에 타고파", "키스의 고유조건은", "", 949, "korea"},
      {"ru866", "имя", "Съешь же ещё", "Широкая электрификация", "866", 866, "cyrr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    // The memo runs past what an Alpha field holds.
    MakePgTable(c.table, std::string("id int4, \"") + c.column + "\" text, memo text",
                {"1, " + Quoted(c.name) + ", repeat(" + Quoted(c.memo) + ", 40)",
                 "2, NULL, " + Quoted(c.memo)});
    fake_.settings.export_code_page = c.forced;
    fake_.postgres_list.Clear();
    fake_.paradox_list.Clear();
    SelectPostgres({c.table});
    ASSERT_EQ(SendToParadox().failures, 0) << FirstFailure();

    const std::string file = (folder_ / (std::string(c.table) + ".db")).string();
    const auto ours = paradox::testing::ReadWithOurReader(file);
    ASSERT_TRUE(ours.error.empty()) << ours.error;
    EXPECT_EQ(ours.info.code_page, c.code_page);
    EXPECT_EQ(ours.info.sort_order, c.driver);
    ASSERT_EQ(ours.info.fields.size(), 3u);
    EXPECT_EQ(ours.info.fields[1].name, c.column);
    EXPECT_EQ(ours.info.fields[1].type, paradox::FieldType::kAlpha);
    EXPECT_EQ(ours.info.fields[2].type, paradox::FieldType::kMemo);
    std::string long_memo;
    for (int i = 0; i < 40; ++i) long_memo += c.memo;
    const Rows pg = PgRows(std::string("SELECT * FROM \"") + c.table + "\"");
    ASSERT_EQ(ours.rows.size(), 2u);
    EXPECT_EQ(ours.rows[0][1].text, c.name);
    EXPECT_EQ(ours.rows[0][2].text, long_memo);
    EXPECT_TRUE(ours.rows[1][1].null);
    EXPECT_EQ(ours.rows[1][2].text, c.memo);

    const auto px = paradox::testing::ReadWithPxlib(file);
    ASSERT_TRUE(px.error.empty()) << px.error;
    EXPECT_EQ(px.code_page, c.code_page);
    ASSERT_EQ(px.rows.size(), 2u);
    EXPECT_EQ(px.rows[0][1].text, c.name);
  }
}

// Tables written by pxlib in a DOS or Windows code page go to PostgreSQL and
// come back as new Paradox tables with every value and name the same. The
// box-drawing and symbol characters only a DOS code page holds bring that
// code page back.
TEST_F(LanguagesTest, TablesInAnyCodePageComeBackFromPostgresUnchanged) {
  struct Case {
    int code_page;
    const char* column;
    const char* text;
    int back_in;
  };
  const Case cases[] = {
      {866, "Имя", "Привет, мир ё Ё № ╔═╗", 866},
      {1251, "Имя", "Съешь ещё этих булок ђ Ђ €", 1251},
      {857, "Ad", "İstanbul ığdır Şişli ÇÖÜ", 1254},
      {852, "Nazwa", "Zażółć gęślą jaźń ČŘŠ", 1250},
      {437, "Naïve", "Ç ü é â ░▒▓ ½ ∞ ≈", 437},
  };
  for (const Case& c : cases) {
    const std::string table = "RT" + std::to_string(c.code_page);
    SCOPED_TRACE(table);
    const std::string memo = std::string(c.text) + "\r\n" + std::string(300, 'm');
    const std::string db = (folder_ / (table + ".db")).string();
    ASSERT_EQ(MakePxTable(db,
                          {{"ID", pxfLong, 4}, {c.column, pxfAlpha, 120}, {"MEMO", pxfMemoBLOb, 10}},
                          {{PxInt(1), PxText(c.text), PxText(PxInCodePage(memo, c.code_page))}},
                          c.code_page),
              "");
    const auto made = paradox::testing::ReadWithOurReader(db);
    ASSERT_EQ(made.rows.size(), 1u) << made.error;
    ASSERT_EQ(made.rows[0][1].text, c.text);
    ASSERT_EQ(made.rows[0][2].text, memo);
    fake_.paradox_list.Clear();
    SelectParadox({table});
    drop_after_.push_back(table);
    ASSERT_EQ(Send().failures, 0) << FirstFailure();
    fs::remove(db);
    fs::remove(folder_ / (table + ".mb"));

    fake_.settings.export_code_page = "";
    fake_.postgres_list.Clear();
    fake_.paradox_list.Clear();
    SelectPostgres({table});
    ASSERT_EQ(SendToParadox().failures, 0) << FirstFailure();
    const auto back = paradox::testing::ReadWithOurReader(db);
    ASSERT_TRUE(back.error.empty()) << back.error;
    EXPECT_EQ(back.info.code_page, c.back_in);
    ASSERT_EQ(back.info.fields.size(), 3u);
    EXPECT_EQ(back.info.fields[1].name, c.column);
    ASSERT_EQ(back.rows.size(), 1u);
    EXPECT_EQ(back.rows[0][1].text, c.text);
    EXPECT_EQ(back.rows[0][2].text, memo);
  }
}

// Text that would come back changed is refused row by row, naming the
// character and the code page; the other rows and the table's code page are
// as if the refused row had never been there. Accents given apart from their
// letter are written composed in a Western code page.
TEST_F(LanguagesTest, TextThatWouldComeBackChangedIsRefusedAndAccentsAreComposed) {
  struct Case {
    const char* table;
    const char* forced;
    std::vector<std::string> rows;  // (id, t)
    int code_page;
    const char* driver;
    std::vector<std::string> kept;  // t of the rows written, by id
    const char* refusal;            // in the failure, "" when none
  };
  const Case cases[] = {
      {"cp_nfc", "", {"1, U&'cafe\\0301'", "2, U&'nai\\0308ve Gro\\0308\\00DFe'"}, 1252,
       "ANSIINTL", {"café", "naïve Größe"}, ""},
      {"cp_tag", "", {"1, U&'x\\+0E0001y'", "2, 'plain'", "3, 'שלום'"}, 1255, "ANHEBREW",
       {"plain", "שלום"}, "U+E0001"},
      {"cp_932", "932", {"1, 'テスト〜'", "2, 'テスト～'"}, 932, "japan", {"テスト～"},
       "U+301C \"〜\" cannot be stored in code page 932"},
      {"cp_lt", "", {"1, 'ąčęėįšųūž'", "2, 'Vilnius'"}, 1252, "ANSIINTL", {"Vilnius"},
       "code page 1257, for which Paradox has no language driver"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    MakePgTable(c.table, "id int4, t text", c.rows);
    fake_.settings.export_code_page = c.forced;
    fake_.postgres_list.Clear();
    fake_.paradox_list.Clear();
    fake_.dialogs.shown.clear();
    SelectPostgres({c.table});
    const bool refused = *c.refusal != '\0';
    EXPECT_EQ(SendToParadox().failures, refused ? 1 : 0) << FirstFailure();
    if (refused) {
      EXPECT_NE(FirstFailure().find(c.refusal), std::string::npos) << FirstFailure();
      EXPECT_NE(FirstFailure().find("`t`"), std::string::npos) << FirstFailure();
    }
    const std::string file = (folder_ / (std::string(c.table) + ".db")).string();
    const auto ours = paradox::testing::ReadWithOurReader(file);
    ASSERT_EQ(ours.error, "");
    EXPECT_EQ(ours.info.code_page, c.code_page);
    EXPECT_EQ(ours.info.sort_order, c.driver);
    ASSERT_EQ(ours.rows.size(), c.kept.size());
    for (size_t r = 0; r < c.kept.size(); ++r) EXPECT_EQ(ours.rows[r][1].text, c.kept[r]);
  }
}

// NUL bytes at the end of a memo end it; one inside a memo fails that row
// alone, as PostgreSQL text cannot hold it.
TEST_F(LanguagesTest, MemoNulBytesEndTheTextOrFailOnlyTheirRow) {
  const std::string db = (folder_ / "NULS.db").string();
  ASSERT_EQ(MakePxTable(db, {{"ID", pxfLong, 4}, {"MEMO", pxfMemoBLOb, 10}},
                        {{PxInt(1), PxText(std::string("ends here\0\0", 11))},
                         {PxInt(2), PxText(std::string("in\0side", 7))},
                         {PxInt(3), PxText(std::string(300, 'x') + std::string(1, '\0'))}}),
            "");
  SelectParadox({"NULS"});
  drop_after_.push_back("NULS");
  EXPECT_EQ(Send().failures, 1);
  ASSERT_EQ(fake_.dialogs.Failures().size(), 1u);
  const std::string failure = fake_.dialogs.Failures()[0];
  EXPECT_NE(failure.find("`MEMO`"), std::string::npos) << failure;
  EXPECT_NE(failure.find("cannot hold a NUL byte"), std::string::npos) << failure;
  const Rows stored = PgRows("SELECT \"ID\", \"MEMO\" FROM \"NULS\" ORDER BY 1");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0][1].text(), "ends here");
  EXPECT_EQ(stored[1][0].text(), "3");
  EXPECT_EQ(stored[1][1].text(), std::string(300, 'x'));
}

// A timestamptz arrives as the wall time of the session's zone (PGTZ here),
// BC ones too; -0 stays -0 in a Number field.
TEST_F(LanguagesTest, ZonedTimesAndNegativeZeroArriveAsPsqlShowsThem) {
  MakePgTable("tx_tz", "tz timestamptz, f float8",
              {"'2024-02-29 13:14:15+00', '-0'", "'0044-03-15 10:00:00+00 BC', '1.5'"});
  setenv("PGTZ", "Etc/GMT-3", 1);
  SelectPostgres({"tx_tz"});
  const int failures = SendToParadox().failures;
  unsetenv("PGTZ");
  ASSERT_EQ(failures, 0) << FirstFailure();
  const ReadTable ours = ReadOurs((folder_ / "tx_tz.db").string());
  ASSERT_TRUE(ours.error.empty()) << ours.error;
  EXPECT_EQ(ours.fields[0].type, paradox::FieldType::kTimestamp);
  EXPECT_EQ(ours.fields[1].type, paradox::FieldType::kNumber);
  EXPECT_EQ(ours.rows, (std::vector<Cells>{{"2024-02-29 16:14:15", "-0"},
                                           {"0044-03-15 13:00:00 BC", "1.5"}}));
}

// A Number holding NaN with its sign bit set, or an infinity, reaches
// PostgreSQL in the words it accepts.
TEST_F(LanguagesTest, NumberNaNOfEitherSignAndInfinitiesArrive) {
  const std::string db = (folder_ / "NANS.db").string();
  {
    auto writer = paradox::TableWriter::Create(db, {{"N", paradox::FieldType::kNumber, 8, 0}});
    ASSERT_TRUE(writer.ok()) << writer.status().message();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE((*writer)->Append({{false, "1.5"}}).ok());
    ASSERT_TRUE((*writer)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  // Our writer stores no NaN: the values go straight into the records.
  std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char size[2];
  f.seekg(2);
  f.read(reinterpret_cast<char*>(size), 2);
  const long records = (size[0] | size[1] << 8) + 6;
  const double values[] = {-std::nan(""), std::nan(""), -HUGE_VAL, HUGE_VAL};
  for (int i = 0; i < 4; ++i) {
    unsigned char bytes[8];
    paradox::EncodeFlippedDouble(bytes, values[i]);
    f.seekp(records + 8 * i);
    f.write(reinterpret_cast<const char*>(bytes), 8);
  }
  f.close();
  SelectParadox({"NANS"});
  drop_after_.push_back("NANS");
  ASSERT_EQ(Send().failures, 0) << FirstFailure();
  const Rows stored = PgRows("SELECT \"N\"::text FROM \"NANS\"");
  ASSERT_EQ(stored.size(), 4u);
  const char* const expected[] = {"NaN", "NaN", "-Infinity", "Infinity"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(stored[i][0].text(), expected[i]);
}

}  // namespace
}  // namespace corvane::testing
