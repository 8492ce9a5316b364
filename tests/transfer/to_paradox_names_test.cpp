// The pure pieces of the transfer to Paradox: separator collapsing, the
// statement texts, the column type words, name cutting, and ExistTable
// against a staging database that also holds a view.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "connection/connection_strings.h"
#include "support/temp_folder.h"
#include "transfer/long_names.h"
#include "transfer/staging_names.h"

namespace corvane::transfer {
namespace {

TEST(CollapseBackslashesTest, AsDefinedOnBackslashes) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"C:\\Data\\", "C:\\Data\\"},
           {"C:\\Data\\\\", "C:\\Data\\"},
           {"C:\\\\", "C:\\"},
           {"C:\\\\Data\\\\", "C:\\Data\\"},
           {"\\\\server\\share\\", "\\\\server\\share\\"},
           {"\\server\\share\\", "\\\\server\\share\\"},
           {"\\\\\\\\x", "\\\\x"},
           {"\\", "\\\\"},
           {"\\\\\\", "\\\\"},
           {"a\\\\\\b", "a\\\\b"},
           {"a\\\\\\\\b", "a\\\\b"},
           {"", ""},
       }) {
    EXPECT_EQ(CollapseBackslashes(c.in), c.out) << c.in;
  }
}

TEST(CollapseBackslashesTest, AppliedWithSlashesForTheExportFolder) {
  EXPECT_EQ(ExportFolderText("/data/px"), "//data/px/");
  EXPECT_EQ(ExportFolderText("/data/px/"), "//data/px/");
  EXPECT_EQ(ExportFolderText("data//px"), "data/px/");
  EXPECT_EQ(ExportFolderText("/"), "//");
  // Backslashes are ordinary characters in a folder name here.
  EXPECT_EQ(ExportFolderText("/a\\\\b"), "//a\\\\b/");
  EXPECT_EQ(ExportFolderText("C:\\Data", '\\'), "C:\\Data\\");
}

TEST(StagingStatementTextTest, ExportDropAndColumnWords) {
  EXPECT_EQ(ExportStatementText("C:\\Data\\", "CUSTOMER", "customers"),
            "select * into [Paradox 5.x;Database=C:\\Data\\].[CUSTOMER.db] from [customers]");
  EXPECT_EQ(StagingDropText("t"), "DROP TABLE [t]");
  EXPECT_EQ(StagingDatabasePath("/opt/corvane"), "/opt/corvane/dbtemp.mdb");
  const std::pair<int, const char*> words[] = {
      {type_code::kVarWChar, "` VARCHAR,"},
      {type_code::kLongVarWChar, "` VARCHAR,"},
      {type_code::kDecimal, "` DECIMAL,"},
      {type_code::kSingle, "` INT,"},
      {type_code::kBigInt, "` INT,"},
      {type_code::kNumeric, "` INT,"},
      {139, "` INT,"},
      {type_code::kLongVarBinary, "` OLEOBJECT,"},
      {type_code::kDbDate, "` DATETIME,"},
      {7, "` DATETIME,"},
      {type_code::kDbTimeStamp, "` DATETIME,"},
      {type_code::kDouble, "` FLOAT,"},
      {type_code::kCurrency, "` VARCHAR,"},
      {type_code::kBoolean, "` VARCHAR,"},
      {type_code::kGuid, "` VARCHAR,"},
      {type_code::kDbTime, "` VARCHAR,"},
      {type_code::kBinary, "` VARCHAR,"},
      {8192, "` VARCHAR,"},
  };
  for (const auto& [code, text] : words) {
    EXPECT_EQ(StagingColumnTypeText(ColumnClassOf(code)), text) << code;
  }
}

TEST(LongNamesTest, CountsAndCutsUtf16UnitsKeepingCase) {
  EXPECT_EQ(Utf16Length("customer"), 8u);
  EXPECT_EQ(Utf16Length("kundenäöü"), 9u);
  EXPECT_EQ(Utf16Length("a\xF0\x9F\x98\x80"), 3u);  // U+1F600 takes two units
  EXPECT_EQ(FirstUtf16Units("Customers", 8), "Customer");
  EXPECT_EQ(FirstUtf16Units("kundenäöü", 8), "kundenäö");
  EXPECT_EQ(FirstUtf16Units("abcdefg\xF0\x9F\x98\x80x", 8), "abcdefg");
  EXPECT_EQ(FirstUtf16Units("abcdef\xF0\x9F\x98\x80x", 8), "abcdef\xF0\x9F\x98\x80");
  EXPECT_EQ(UpperCase("straße é ω x"), "STRAßE É Ω X");
  EXPECT_EQ(TrimQuestionText("customers"),
            "CUSTOMERS is more than 8 characters. It will be trimmed into CUSTOMER. Continue?");
  EXPECT_EQ(TrimQuestionText("größentabelle"),
            "GRÖßENTABELLE is more than 8 characters. It will be trimmed into GRÖßENTA. "
            "Continue?");
}

// Each name PostgreSQL allows but Paradox does not: refused with its rule,
// and made valid (and distinct from the others) when asked.
TEST(ParadoxFieldNamesTest, InvalidNamesAreRefusedWithTheirRuleOrMadeValid) {
  const std::string forty(40, 'c');
  struct Case {
    std::string name, rule_part, made;
  };
  const std::vector<Case> cases = {
      {forty, "at most 25 characters", std::string(25, 'c')},
      {"[x]", "[ ] { } ( or )", "_x_"},
      {"{y}", "[ ] { } ( or )", "_y_"},
      {"(z)", "[ ] { } ( or )", "_z_"},
      {"a->b", "cannot hold ->", "a_b"},
      {"#", "cannot be # alone", "No"},
      {"  lead", "cannot begin with a blank", "lead"},
      {"x(1)", "[ ] { } ( or )", "x_1_"},
  };
  std::vector<std::string> names;
  for (const Case& c : cases) {
    const std::string rule = ParadoxFieldNameRule(c.name);
    EXPECT_NE(rule.find(c.rule_part), std::string::npos) << c.name << ": " << rule;
    const Status refused = CheckParadoxFieldNames("t", {"ok", c.name});
    EXPECT_NE(refused.message().find("Column \"" + c.name + "\" of table t"), std::string::npos)
        << refused.message();
    EXPECT_EQ(ValidParadoxFieldNames({"ok", c.name}), (std::vector<std::string>{"ok", c.made}));
    names.push_back(c.name);
  }
  for (const std::string& fine :
       std::vector<std::string>{"# of items", "Name", "a-b>c", std::string(25, 'n'), "Zoë"}) {
    EXPECT_EQ(ParadoxFieldNameRule(fine), "") << fine;
  }
  // Names that collide once made valid, or ignoring case, stay distinct.
  EXPECT_EQ(ValidParadoxFieldNames({"Id", "ID", "[a]", "_a_", forty + "1", forty + "2"}),
            (std::vector<std::string>{"Id", "ID_2", "_a__2", "_a_", std::string(25, 'c'),
                                      std::string(23, 'c') + "_2"}));
  for (const std::string& made : ValidParadoxFieldNames(names)) {
    EXPECT_EQ(ParadoxFieldNameRule(made), "") << made;
  }
}

TEST(ExistTableTest, MatchesTablesIgnoringCaseButNotViews) {
  const corvane::testing::TempFolder temp("corvane-exist");
  const std::filesystem::path& dir = temp.path();
  const std::string path = (dir / "dbtemp.mdb").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE CUSTOMERS(a); CREATE VIEW orders AS SELECT 1;", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  Connection staging;
  ASSERT_TRUE(staging.Open(corvane::StagingConnectionString(path)).ok());
  EXPECT_TRUE(ExistTable(staging, "customers").value());
  EXPECT_TRUE(ExistTable(staging, "CUSTOMERS").value());
  EXPECT_FALSE(ExistTable(staging, "orders").value());
  EXPECT_FALSE(ExistTable(staging, "customer").value());
  staging.Close();
  EXPECT_FALSE(ExistTable(staging, "customers").ok());
}

}  // namespace
}  // namespace corvane::transfer
