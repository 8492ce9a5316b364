// The staging driver on a real SQLite file: the statements it takes, what
// it refuses, and that values come back byte for byte.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "connection/connection_strings.h"
#include "support/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class StagingDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "dbtemp.mdb").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=1;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  void TearDown() override {
    conn_.Close();
  }
  void OpenStaging() { ASSERT_TRUE(conn_.Open(StagingConnectionString(path_)).ok()); }
  Status Run(const std::string& sql) { return conn_.Execute(sql).status(); }
  // Reads a table straight from the file, values as stored (blob or null).
  std::vector<std::vector<std::optional<std::string>>> Stored(const std::string& sql) {
    conn_.Close();  // commits
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    std::vector<std::vector<std::optional<std::string>>> rows;
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      rows.emplace_back();
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (sqlite3_column_type(st, i) == SQLITE_NULL) {
          rows.back().emplace_back(std::nullopt);
        } else {
          const void* p = sqlite3_column_blob(st, i);
          const int n = sqlite3_column_bytes(st, i);
          rows.back().emplace_back(std::string(static_cast<const char*>(p ? p : ""), n));
        }
      }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
  }

  corvane::testing::TempFolder temp_{"corvane-staging"};
  fs::path dir_ = temp_.path();
  std::string path_;
  Connection conn_;
};

TEST_F(StagingDriverTest, MissingFileFailsAndIsNotCreated) {
  const std::string missing = (dir_ / "nowhere" / "dbtemp.mdb").string();
  Status s = conn_.Open(StagingConnectionString(missing));
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find(missing), std::string::npos) << s.message();
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(conn_.Execute("DROP TABLE [x]").ok());

  std::ofstream(dir_ / "junk.mdb") << "this is no database at all, but long enough to look at";
  s = conn_.Open(StagingConnectionString((dir_ / "junk.mdb").string()));
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("junk.mdb"), std::string::npos) << s.message();
}

TEST_F(StagingDriverTest, ValuesComeBackExactlyWithTheirDeclaredTypes) {
  OpenStaging();
  ASSERT_TRUE(Run("CREATE TABLE `t`(`a` INT,`b` DECIMAL,`c` VARCHAR,`d` FLOAT,`e` DATETIME,"
                  "`f` MEMO,`g` OLEOBJECT);")
                  .ok());
  // Affinity would turn '007' into 7 and '1.50' into 1.5; a blob keeps them.
  ASSERT_TRUE(Run("INSERT INTO `t` VALUES('007', '1.50', 'O''Brien; DROP TABLE t', '1e+20', "
                  "'2024-02-29 13:14:15.123', 'line\none\\two', '\\x00ff')")
                  .ok());
  ASSERT_TRUE(
      Run("INSERT INTO `t` VALUES(NULL, NULL, 'Zürich', NULL, '0044-03-15 BC', '', NULL)").ok());
  auto rows = Stored("SELECT * FROM t");
  ASSERT_EQ(rows.size(), 2u);
  using V = std::optional<std::string>;
  EXPECT_EQ(rows[0], (std::vector<V>{"007", "1.50", "O'Brien; DROP TABLE t", "1e+20",
                                     "2024-02-29 13:14:15.123", "line\none\\two", "\\x00ff"}));
  EXPECT_EQ(rows[1], (std::vector<V>{std::nullopt, std::nullopt, "Zürich", std::nullopt,
                                     "0044-03-15 BC", "", std::nullopt}));
  auto types = Stored("SELECT type FROM pragma_table_info('t')");
  std::vector<std::string> words;
  for (auto& r : types) words.push_back(*r[0]);
  EXPECT_EQ(words, (std::vector<std::string>{"INT", "DECIMAL", "VARCHAR", "FLOAT", "DATETIME",
                                             "MEMO", "OLEOBJECT"}));
}

TEST_F(StagingDriverTest, RefusesOtherStatementsAndSecondStatements) {
  OpenStaging();
  ASSERT_TRUE(Run("CREATE TABLE `keep`(`a` VARCHAR)").ok());
  for (const char* sql : {
           "DROP TABLE [keep]; DROP TABLE [keep]",
           "SELECT * FROM keep",
           "DELETE FROM keep",
           "INSERT INTO `keep` VALUES('a'); DROP TABLE [keep]",
           "INSERT INTO `keep` VALUES('a)",
           "CREATE TABLE `x`(`a` TEXT)",
           "CREATE TABLE `x`(`a` VARCHAR(20))",
           "CREATE TABLE `x`);",
           "DROP TABLE [keep] DROP TABLE [keep]",
       }) {
    Status s = Run(sql);
    EXPECT_FALSE(s.ok()) << sql;
    EXPECT_FALSE(s.message().empty());
  }
  auto rows = Stored("SELECT count(*) FROM keep");
  ASSERT_EQ(rows.size(), 1u);
}

TEST_F(StagingDriverTest, NamesCannotAddStatements) {
  OpenStaging();
  ASSERT_TRUE(Run("CREATE TABLE `keep`(`a` VARCHAR)").ok());
  const std::string odd = "x\"); DROP TABLE keep; --";
  ASSERT_TRUE(Run("CREATE TABLE `" + odd + "`(`c\"` VARCHAR)").ok());
  ASSERT_TRUE(Run("INSERT INTO `" + odd + "` VALUES('v')").ok());
  // A "]" in a name: the bracketed drop takes the name to the last "]".
  ASSERT_TRUE(Run("CREATE TABLE `x]y`(`a` VARCHAR)").ok());
  EXPECT_TRUE(Run("DROP TABLE [x]y]").ok());
  // A backquote in a name is written doubled; the name stays one name, as
  // it does when a row is given as values.
  const Status by_values = conn_.InsertRow("keep` VALUES('a", {Value::Text("b")});
  EXPECT_FALSE(by_values.ok());
  EXPECT_EQ(by_values.message(), Run("INSERT INTO `keep`` VALUES('a` VALUES('b')").message());
  EXPECT_FALSE(Run("INSERT INTO `keep` VALUES('a` VALUES('b')").ok());
  ASSERT_TRUE(Run("CREATE TABLE `x``y]`(`a``b` VARCHAR)").ok());
  ASSERT_TRUE(conn_.InsertRow("x`y]", {Value::Text("v")}).ok());
  EXPECT_TRUE(Run("DROP TABLE [x`y]]]").ok());
  auto rows = Stored("SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(*rows[0][0], "keep");
  EXPECT_EQ(*rows[1][0], odd);
}

// Large values enter through blob handles after their row; a row whose
// later column another program indexed goes whole, as a blob handle cannot
// write that column. Both rows read back as they were given.
TEST_F(StagingDriverTest, LargeValuesArriveWholeBeforeIndexedColumnsToo) {
  OpenStaging();
  for (const char* t : {"plain", "indexed"}) {
    ASSERT_TRUE(Run(std::string("CREATE TABLE `") + t + "`(`m` MEMO,`n` VARCHAR,`e` VARCHAR)").ok());
  }
  conn_.Close();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE INDEX by_n ON indexed(n)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  OpenStaging();
  const std::string large = std::string(3u << 20, 'm') + "\x01end";
  for (const char* t : {"plain", "indexed"}) {
    ASSERT_TRUE(conn_.InsertRow(t, {Value::Text(large), Value::Text("n"), Value()}).ok()) << t;
    const auto rows = Stored(std::string("SELECT m, n, e FROM ") + t);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][0] == large) << t;
    EXPECT_EQ(rows[0][1], "n");
    EXPECT_EQ(rows[0][2], std::nullopt);
    OpenStaging();
  }
  // More than SQLite holds in one value: the row fails, never a NULL in its place.
  std::vector<Value> huge;
  huge.push_back(Value::Text(std::string(1000000001, 'h')));
  huge.push_back(Value::Text("n"));
  huge.push_back(Value());
  for (const char* t : {"plain", "indexed"}) {
    const Status refused = conn_.InsertRow(t, huge);
    EXPECT_EQ(refused.code(), Status::Code::kInvalidArgument) << t;
    EXPECT_NE(refused.message().find("1000000001 bytes"), std::string::npos) << refused.message();
    EXPECT_EQ(Stored(std::string("SELECT count(*) FROM ") + t),
              (std::vector<std::vector<std::optional<std::string>>>{{"1"}}));
    OpenStaging();
  }
}

// The file gives back the room of dropped tables when the connection ends,
// so it never keeps the size of the largest table it held.
TEST_F(StagingDriverTest, TheFileShrinksBackAfterADroppedTable) {
  OpenStaging();
  ASSERT_TRUE(Run("CREATE TABLE `big`(`a` VARCHAR,`b` MEMO)").ok());
  const std::vector<Value> row = {Value::Text(std::string(300, 'a')),
                                  Value::Text(std::string(2000, 'b'))};
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(conn_.InsertRow("big", row).ok());
  ASSERT_TRUE(Run("CREATE TABLE `kept`(`a` VARCHAR)").ok());
  ASSERT_TRUE(conn_.InsertRow("kept", {Value::Text("still here")}).ok());
  conn_.Close();
  EXPECT_GT(fs::file_size(path_), 6u << 20);
  OpenStaging();
  ASSERT_TRUE(Run("DROP TABLE [big]").ok());
  conn_.Close();
  EXPECT_LT(fs::file_size(path_), 64u << 10);
  EXPECT_EQ(Stored("SELECT a FROM kept"),
            (std::vector<std::vector<std::optional<std::string>>>{{"still here"}}));
}

TEST_F(StagingDriverTest, ABadValueFailsItsRowOnlyAndNamesTheColumn) {
  OpenStaging();
  ASSERT_TRUE(Run("CREATE TABLE `t`(`n` INT,`when` DATETIME,`txt` VARCHAR)").ok());
  EXPECT_TRUE(Run("INSERT INTO `t` VALUES('1', '2024-01-02', 'ok')").ok());
  // Text in any one code page is taken; a row whose text shares no code
  // page with the rows before it fails, naming the column and character.
  Status s = Run("INSERT INTO `t` VALUES('2', '2024-01-02', '漢字')");
  EXPECT_TRUE(s.ok()) << s.message();
  for (const char* when :
       {"yesterday", "2023-02-29", "2024-01-02 25:00:00", "infinity", "2024-01-02 03:04:05+02"}) {
    s = Run(std::string("INSERT INTO `t` VALUES('3', '") + when + "', 'x')");
    EXPECT_FALSE(s.ok()) << when;
    EXPECT_NE(s.message().find("`when`"), std::string::npos) << s.message();
  }
  s = Run("INSERT INTO `t` VALUES('4', NULL)");
  EXPECT_NE(s.message().find("3 columns"), std::string::npos) << s.message();
  EXPECT_FALSE(Run("INSERT INTO `nothere` VALUES('4')").ok());
  s = Run("INSERT INTO `t` VALUES('5', '2024-01-02 03:04:05', 'Grüße €')");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("`txt`"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("U+00DF"), std::string::npos) << s.message();
  // Finer than a millisecond is still a date and time (stored as text by
  // the export); a UTC offset is dropped, as a Paradox field has no zone.
  EXPECT_TRUE(Run("INSERT INTO `t` VALUES('6', '2024-01-02 03:04:05.123456 BC', NULL)").ok());
  EXPECT_TRUE(Run("INSERT INTO `t` VALUES('7', '2024-02-29 13:14:15.5+00', NULL)").ok());
  auto rows = Stored("SELECT n, \"when\" FROM t");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(*rows[0][0], "1");
  EXPECT_EQ(*rows[1][0], "2");
  EXPECT_EQ(*rows[2][1], "2024-01-02 03:04:05.123456 BC");
  EXPECT_EQ(*rows[3][1], "2024-02-29 13:14:15.5");
}

TEST_F(StagingDriverTest, SchemaListsTablesAndViewsAndSurvivesReopen) {
  OpenStaging();
  ASSERT_TRUE(Run("CREATE TABLE `Customers`(`a` VARCHAR)").ok());
  ASSERT_TRUE(Run("INSERT INTO `Customers` VALUES('kept')").ok());
  conn_.Close();
  {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "CREATE VIEW orders AS SELECT 1", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  OpenStaging();
  auto list = conn_.OpenSchema(20);
  ASSERT_TRUE(list.ok());
  RecordSet& rs = **list;
  ASSERT_EQ(rs.FieldCount(), 2);
  EXPECT_EQ(rs.FieldName(0), "TABLE_TYPE");
  EXPECT_EQ(rs.FieldName(1), "TABLE_NAME");
  std::vector<std::string> seen;
  for (; !rs.Eof(); (void)rs.MoveNext()) {
    seen.push_back(rs.FieldValue(0).text() + " " + rs.FieldValue(1).text());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"TABLE Customers", "VIEW orders"}));
  EXPECT_FALSE(Run("CREATE TABLE `CUSTOMERS`(`a` VARCHAR)").ok());
  EXPECT_TRUE(Run("DROP TABLE [customers]").ok());
  EXPECT_FALSE(Run("DROP TABLE [customers]").ok());
}

}  // namespace
}  // namespace corvane
