// "Keep field types and keys", both directions on the test server: a keyed
// table of every field type goes to PostgreSQL as typed columns with its
// key and comes back with the same fields, key, values and a primary index
// that agrees with it; keys the rows cannot keep are dropped with a message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "paradox/primary_index.h"
#include "paradox/pxlib_index.h"
#include "paradox/table_reader.h"
#include "paradox/table_writer.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using paradox::FieldInfo;
using paradox::FieldType;

class KeepTypesTest : public ToParadoxTest {
 protected:
  transfer::TransferOutcome BackToParadox() {
    ui::TablesWindow window = fake_.Window();
    window.program_folder = program_.string();
    return transfer::SendTablesToParadoxWith(window, {true});
  }
  // The PostgreSQL columns of `table`: "type comment" each, and its key.
  std::vector<std::string> ColumnsOf(const std::string& table) {
    std::vector<std::string> out;
    for (const auto& r : PgRows("SELECT format_type(atttypid, atttypmod) || ' ' || "
                                "COALESCE(col_description(attrelid, attnum), '') FROM "
                                "pg_attribute WHERE attrelid = '\"" +
                                table + "\"'::regclass AND attnum > 0 ORDER BY attnum")) {
      out.push_back(r[0].text());
    }
    return out;
  }
  std::string KeyOf(const std::string& table) {
    Rows key = PgRows(
        "SELECT string_agg(a.attname, ',' ORDER BY k.n) FROM pg_index i, "
        "unnest(i.indkey) WITH ORDINALITY k(att, n), pg_attribute a WHERE i.indrelid = '\"" +
        table +
        "\"'::regclass AND i.indisprimary AND a.attrelid = i.indrelid AND a.attnum = k.att");
    return key.empty() || key[0][0].is_null() ? "" : key[0][0].text();
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& s : fake_.dialogs.shown) {
      if (s.kind == "message") out.push_back(s.text);
    }
    return out;
  }
};

TEST_F(KeepTypesTest, AKeyedTableOfEveryTypeTravelsBothWaysUnchanged) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  const std::vector<FieldInfo> fields = {
      {"Id", FieldType::kShort, 0, 0},         {"Code", FieldType::kAlpha, 8, 0},
      {"Amount", FieldType::kMoney, 0, 0},     {"Qty", FieldType::kLong, 0, 0},
      {"Ratio", FieldType::kNumber, 0, 0},     {"Price", FieldType::kBcd, 0, 2},
      {"Day", FieldType::kDate, 0, 0},         {"At", FieldType::kTime, 0, 0},
      {"Stamp", FieldType::kTimestamp, 0, 0},  {"Ok", FieldType::kLogical, 0, 0},
      {"Note", FieldType::kMemo, 15, 0},       {"Blob", FieldType::kBinary, 10, 0},
      {"Pic", FieldType::kGraphic, 10, 0},     {"Raw", FieldType::kBytes, 4, 0},
      {"Seq", FieldType::kAutoIncrement, 0, 0}};
  const std::vector<std::vector<std::string>> rows = {
      {"1", "A", "-12.34", "100000", "0.1", "12.50", "1996-05-04", "10:30:00.125",
       "2000-01-01 00:00:00", "True", "a memo longer than its leader", "\\x0102", "\\x424d00",
       "\\x00ff0102", "5"},
      {"1", "B", "", "", "", "", "", "", "", "", "", "", "", "", "6"},
      {"2", "a'b", "0", "-5", "1e+20", "-0.01", "0044-03-15 BC", "00:00:00",
       "1899-12-30 12:00:00.500", "False", "x", "\\xff", "\\x89504e47", "\\x01020304", "44"}};
  {
    auto w = paradox::TableWriter::Create((folder_ / "KT_SRC.db").string(), fields, 1252, 0, 2);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (const auto& r : rows) {
      std::vector<paradox::Cell> cells;
      for (const std::string& v : r) cells.push_back({v.empty(), v});
      Status appended = (*w)->Append(cells);
      ASSERT_TRUE(appended.ok()) << appended.message();
    }
    ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  SelectParadox({"KT_SRC"});
  transfer::ToPostgresOptions on;
  on.keep_types = true;
  EXPECT_EQ(Send(on).failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());

  const std::vector<std::string> types = ColumnsOf("KT_SRC");
  const std::vector<std::string> expected = {"smallint ",
                                             "character varying(8) ",
                                             "double precision Paradox type $",
                                             "integer ",
                                             "double precision ",
                                             "numeric(32,2) ",
                                             "date ",
                                             "time(3) without time zone ",
                                             "timestamp(3) without time zone ",
                                             "boolean ",
                                             "text Paradox type M 15",
                                             "bytea Paradox type B 10",
                                             "bytea Paradox type G 10",
                                             "bytea Paradox type Y 4",
                                             "integer Paradox type +"};
  ASSERT_EQ(types.size(), expected.size());
  EXPECT_EQ(types, expected);
  EXPECT_EQ(KeyOf("KT_SRC"), "Id,Code");
  // The next value handed out follows the largest one stored.
  EXPECT_EQ(
      PgRows("SELECT pg_sequence_last_value(pg_get_serial_sequence('\"KT_SRC\"', 'Seq'))")[0][0]
          .text(),
      "44");
  // Named as if the table had been made under its own name, not the
  // scratch name it was filled under.
  EXPECT_EQ(PgRows("SELECT conname::text || ' ' || pg_get_serial_sequence('\"KT_SRC\"', 'Seq') "
                   "FROM pg_constraint WHERE contype = 'p' AND conrelid = '\"KT_SRC\"'::regclass")
                .at(0)[0]
                .text(),
            "KT_SRC_pkey public.\"KT_SRC_Seq_seq\"");

  Pg("ALTER TABLE \"KT_SRC\" RENAME TO \"KT_BACK\"");
  drop_after_.push_back("KT_BACK");
  SelectPostgres({"KT_BACK"});
  EXPECT_EQ(BackToParadox().failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
  EXPECT_TRUE(Messages().empty()) << Messages()[0];
  const ReadTable before = ReadOurs((folder_ / "KT_SRC.db").string());
  const ReadTable after = ReadOurs((folder_ / "KT_BACK.db").string());
  ASSERT_EQ(after.error, "");
  ASSERT_EQ(after.fields.size(), fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(after.fields[i].name, before.fields[i].name);
    EXPECT_EQ(after.fields[i].type, before.fields[i].type) << before.fields[i].name;
    EXPECT_EQ(after.fields[i].size, before.fields[i].size) << before.fields[i].name;
    EXPECT_EQ(after.fields[i].scale, before.fields[i].scale) << before.fields[i].name;
  }
  EXPECT_EQ(after.rows, before.rows);
  auto info = paradox::TableReader::ReadInfo((folder_ / "KT_BACK.db").string());
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->key_fields, 2);
  auto check = paradox::CheckPrimaryIndex(*info);
  ASSERT_TRUE(check.ok());
  EXPECT_EQ(check->file, "KT_BACK.px");
  EXPECT_EQ(check->problem, "");
}

// Paradox hands out the counter + 1 next: a counter past the largest value
// (rows deleted after they were numbered) must come back as it went, or
// the numbers of deleted rows would be handed out again. A number the
// sequence handed out in PostgreSQL counts as well.
TEST_F(KeepTypesTest, TheAutoincrementCounterComesBackFromTheSequence) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  const std::vector<FieldInfo> fields = {{"Seq", FieldType::kAutoIncrement, 0, 0},
                                         {"Name", FieldType::kAlpha, 10, 0}};
  {
    auto w = paradox::TableWriter::Create((folder_ / "KT_AUTO.db").string(), fields, 1252);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (const char* n : {"3", "20"}) ASSERT_TRUE((*w)->Append({{false, n}, {false, "x"}}).ok());
    (*w)->RaiseAutoIncrement(44);  // 21 to 44 were handed out, their rows deleted
    ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  auto sent = paradox::TableReader::ReadInfo((folder_ / "KT_AUTO.db").string());
  ASSERT_TRUE(sent.ok());
  ASSERT_EQ(sent->auto_increment, 44u);
  SelectParadox({"KT_AUTO"});
  transfer::ToPostgresOptions on;
  on.keep_types = true;
  ASSERT_EQ(Send(on).failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
  Pg("ALTER TABLE \"KT_AUTO\" RENAME TO \"KT_AUTOB\"");
  drop_after_.push_back("KT_AUTOB");

  // Back as it went; then once more after PostgreSQL numbered a row (45).
  for (const uint32_t counter : {44u, 45u}) {
    SCOPED_TRACE(counter);
    fs::remove(folder_ / "KT_AUTOB.db");
    fake_.postgres_list.Clear();
    fake_.paradox_list.Clear();
    SelectPostgres({"KT_AUTOB"});
    ASSERT_EQ(BackToParadox().failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
    auto back = paradox::TableReader::ReadInfo((folder_ / "KT_AUTOB.db").string());
    ASSERT_TRUE(back.ok()) << back.status().message();
    EXPECT_EQ(back->fields[0].type, FieldType::kAutoIncrement);
    EXPECT_EQ(back->auto_increment, counter);
    Pg("INSERT INTO \"KT_AUTOB\"(\"Name\") VALUES ('new')");
  }
}

TEST_F(KeepTypesTest, KeysComeFirstOrAreDroppedWithOneMessageSayingWhy) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  struct Case {
    const char* name;
    const char* definition;
    std::vector<std::string> rows;
    int key_fields;           // of the Paradox table
    std::string first_field;  // its first field
    FieldType first_type;
    const char* message;  // part of the one message, "" for none
    int code_page = 1252;
    const char* driver = "";  // "" when any
  };
  const Case cases[] = {
      {"KT_ORDER",
       "a text, b integer, c date, PRIMARY KEY (b, a)",
       {"'x', 2, '2020-01-01'", "'y', 1, NULL", "'x', 1, NULL"},
       2,
       "b",
       FieldType::kLong,
       "",
       1252,
       "DBWINUS0"},
      // Text keys go by their bytes: past 0x7F too.
      {"KT_ACC",
       "k text PRIMARY KEY",
       {"'\u00e9'", "'z'", "'a'"},
       1,
       "k",
       FieldType::kAlpha,
       "",
       1252,
       "DBWINUS0"},
      // The code page the text needs is the one the key is compared in.
      {"KT_CYR",
       "n integer PRIMARY KEY, t text",
       {"2, 'два'", "1, 'один'"},
       1,
       "n",
       FieldType::kLong,
       "",
       1251,
       "ancyrr"},
      {"KT_CYRK",
       "k text PRIMARY KEY",
       {"'один'", "'два'"},
       0,
       "k",
       FieldType::kAlpha,
       "code page 1251",
       1251,
       "ancyrr"},
      {"KT_MIN",
       "n integer PRIMARY KEY, t text",
       {"-2147483648, 'low'", "7, 'seven'"},
       1,
       "n",
       FieldType::kNumber,
       ""},
      // A large value before the key field, read in pieces in key order.
      {"KT_BIG",
       "t text, b integer, PRIMARY KEY (b)",
       {"repeat('x', 1100000) || 'end', 2", "'y', 1"},
       1,
       "b",
       FieldType::kLong,
       ""},
      {"KT_BLANK",
       "k text PRIMARY KEY, v integer",
       {"'', 1", "'b', 2"},
       0,
       "k",
       FieldType::kAlpha,
       "blank"},
      {"KT_BYTEA",
       "k bytea PRIMARY KEY",
       {"'\\x01'", "'\\x02'"},
       0,
       "k",
       FieldType::kBinary,
       "cannot be part of a key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakePgTable(c.name, c.definition, c.rows);
    fake_.dialogs.shown.clear();
    fake_.postgres_list.Clear();
    SelectPostgres({c.name});
    EXPECT_EQ(BackToParadox().failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
    auto info = paradox::TableReader::ReadInfo((folder_ / (std::string(c.name) + ".db")).string());
    ASSERT_TRUE(info.ok()) << info.status().message() << ::testing::PrintToString(Messages());
    EXPECT_EQ(info->key_fields, c.key_fields);
    EXPECT_EQ(info->fields[0].name, c.first_field);
    EXPECT_EQ(info->fields[0].type, c.first_type);
    EXPECT_EQ(info->record_count, c.rows.size());
    EXPECT_EQ(info->code_page, c.code_page);
    if (*c.driver) {
      EXPECT_EQ(info->sort_order, c.driver);
    }
    const std::vector<std::string> messages = Messages();
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(messages.empty());
      EXPECT_EQ(paradox::CheckPrimaryIndex(*info)->problem, "");
    } else {
      ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
      EXPECT_NE(messages[0].find(c.message), std::string::npos) << messages[0];
      EXPECT_NE(messages[0].find("without a key"), std::string::npos) << messages[0];
    }
  }
  // Key order: (b, a) ascending, whatever order the rows were stored in.
  const ReadTable ordered = ReadOurs((folder_ / "KT_ORDER.db").string());
  ASSERT_EQ(ordered.rows.size(), 3u);
  EXPECT_EQ(ordered.rows[0][0], "1");
  EXPECT_EQ(ordered.rows[0][1], "x");
  EXPECT_EQ(ordered.rows[1][1], "y");
  EXPECT_EQ(ordered.rows[2][0], "2");
  const ReadTable big = ReadOurs((folder_ / "KT_BIG.db").string());
  ASSERT_EQ(big.rows.size(), 2u);
  EXPECT_TRUE(big.rows[1][1] == std::string(1100000, 'x') + "end");
}

// Tables Paradox and other programs wrote, when the sample folder is given:
// typed and keyed in PostgreSQL, and back with the same fields, key and
// records, and an index pxlib follows to the blocks holding the keys.
TEST_F(KeepTypesTest, RealTablesKeepTheirFieldsAndKeyBothWays) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !fs::is_directory(root)) GTEST_SKIP() << "no sample folder";
  const std::map<FieldType, std::string> pg_type = {
      {FieldType::kShort, "smallint"},
      {FieldType::kLong, "integer"},
      {FieldType::kAutoIncrement, "integer"},
      {FieldType::kNumber, "double precision"},
      {FieldType::kMoney, "double precision"},
      {FieldType::kDate, "date"},
      {FieldType::kTime, "time(3) without time zone"},
      {FieldType::kTimestamp, "timestamp(3) without time zone"},
      {FieldType::kLogical, "boolean"},
      {FieldType::kMemo, "text"},
      {FieldType::kFormattedMemo, "bytea"},
      {FieldType::kBinary, "bytea"},
      {FieldType::kGraphic, "bytea"},
      {FieldType::kOle, "bytea"},
      {FieldType::kBytes, "bytea"}};
  std::vector<fs::path> samples;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string ext = entry.path().extension().string();
    if (ext != ".db" && ext != ".DB") continue;
    auto info = paradox::TableReader::ReadInfo(entry.path().string());
    if (info.ok() && ReadOurs(entry.path().string()).error.empty()) {
      samples.push_back(entry.path());
    }
  }
  std::sort(samples.begin(), samples.end());
  ASSERT_FALSE(samples.empty());
  int n = 0;
  for (const fs::path& sample : samples) {
    SCOPED_TRACE(sample.string());
    // The table and its companions under a name of our own.
    const std::string name = "KS" + std::to_string(++n), back = "KB" + std::to_string(n);
    for (const auto& file : fs::directory_iterator(sample.parent_path())) {
      if (file.path().stem() != sample.stem()) continue;
      fs::copy_file(file.path(), folder_ / (name + file.path().extension().string()));
    }
    const ReadTable before = ReadOurs((folder_ / (name + sample.extension().string())).string());
    auto info =
        paradox::TableReader::ReadInfo((folder_ / (name + sample.extension().string())).string());
    ASSERT_TRUE(info.ok());

    fake_.dialogs.shown.clear();
    fake_.paradox_list.Clear();
    SelectParadox({name});
    transfer::ToPostgresOptions on;
    on.keep_types = true;
    ASSERT_EQ(Send(on).failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
    // Alone, a table's references and lookups have no parent to refer to.
    for (const std::string& m : Messages()) {
      EXPECT_NE(m.find("FOREIGN KEY"), std::string::npos) << m;
    }
    fake_.dialogs.shown.clear();
    const std::vector<std::string> columns = ColumnsOf(name);
    ASSERT_EQ(columns.size(), info->fields.size());
    std::string key;
    for (size_t i = 0; i < columns.size(); ++i) {
      const FieldInfo& f = info->fields[i];
      std::string want = f.type == FieldType::kAlpha
                             ? "character varying(" + std::to_string(f.size) + ")"
                         : f.type == FieldType::kBcd ? "numeric(32," + std::to_string(f.scale) + ")"
                                                     : pg_type.at(f.type);
      EXPECT_EQ(columns[i].substr(0, want.size() + 1), want + " ") << f.name;
      if (static_cast<int>(i) < info->key_fields) key += (key.empty() ? "" : ",") + f.name;
    }
    EXPECT_EQ(KeyOf(name), key);

    Pg("ALTER TABLE \"" + name + "\" RENAME TO \"" + back + "\"");
    drop_after_.push_back(back);
    fake_.postgres_list.Clear();
    SelectPostgres({back});
    ASSERT_EQ(BackToParadox().failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
    EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
    const std::string db = (folder_ / (back + ".db")).string();
    const ReadTable after = ReadOurs(db);
    ASSERT_EQ(after.error, "");
    ASSERT_EQ(after.fields.size(), before.fields.size());
    for (size_t i = 0; i < before.fields.size(); ++i) {
      const FieldInfo &a = after.fields[i], &b = before.fields[i];
      EXPECT_EQ(a.name, b.name);
      EXPECT_EQ(a.type, b.type) << b.name;
      EXPECT_EQ(a.size, b.size) << b.name;
      EXPECT_EQ(a.scale, b.scale) << b.name;
    }
    EXPECT_EQ(after.rows, before.rows);
    auto written = paradox::TableReader::ReadInfo(db);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(written->key_fields, info->key_fields);
    if (info->key_fields == 0) continue;
    EXPECT_EQ(paradox::CheckPrimaryIndex(*written)->problem, "");
    int key_size = 0;
    for (int i = 0; i < written->key_fields; ++i) key_size += written->fields[i].size;
    EXPECT_EQ(
        paradox::testing::PxlibIndexProblem(db, (folder_ / (back + ".px")).string(), key_size), "");
  }
}

}  // namespace
}  // namespace corvane::testing
