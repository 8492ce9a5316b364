// "Keep field types and keys" carries a table's .val and secondary indexes
// to the test server: rows that break a copied rule are refused afterwards,
// lookups use the indexes, references become foreign keys whatever order
// the tables go in, and rules the rows already break are kept as far as
// they can be, each with one message.
#include "transfer/paradox_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "paradox/fixture_builder.h"
#include "paradox/rules_builder.h"
#include "paradox/table_reader.h"
#include "paradox/table_writer.h"
#include "pxlib_table.h"
#include "transfer_fixture.h"

namespace corvane::testing {
namespace {

using paradox::FieldInfo;
using paradox::FieldType;
using paradox::testing::BuildIndexHeader;
using paradox::testing::BuildVal;
using paradox::testing::FlipInt;
using paradox::testing::IndexSpec;
using paradox::testing::RuleField;
using paradox::testing::WriteFile;

const std::vector<RuleField> kPlace = {
    {0x04, 4, "Tup No"}, {0x03, 2, "Blk Num"}, {0x03, 2, "Tup Offset"}};

IndexSpec Index(uint8_t type, RuleField field, uint16_t number, uint8_t options,
                const std::string& name) {
  IndexSpec x{0x0C, type, {field}, {number}, 3, options, name, 0};
  for (size_t i = 0; i < kPlace.size(); ++i) {
    x.fields.push_back(kPlace[i]);
    x.numbers.push_back(static_cast<uint16_t>(number + 1 + i));
  }
  return x;
}

class ParadoxRulesTest : public ToPostgresTest {
 protected:
  void Writer(const std::string& name, const std::vector<FieldInfo>& fields, int key_fields,
              const std::vector<std::vector<std::string>>& rows) {
    auto w = paradox::TableWriter::Create((folder_ / (name + ".db")).string(), fields, 1252, 0,
                                          key_fields);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (const auto& r : rows) {
      std::vector<paradox::Cell> cells;
      for (const std::string& v : r) cells.push_back({v.empty(), v});
      ASSERT_TRUE((*w)->Append(cells).ok());
    }
    ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& s : fake_.dialogs.shown) {
      if (s.kind == "message") out.push_back(s.text);
    }
    return out;
  }
  void DropAll() {
    for (const char* t : {"RC_BROKEN", "RB_CHILD", "RA_PARENT"}) {
      (void)PgTry(std::string("DROP TABLE IF EXISTS \"") + t + "\" CASCADE");
    }
  }
};

TEST_F(ParadoxRulesTest, CopiedRulesBindTheServerAndRowsThatBreakThemStillArrive) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  DropAll();
  Writer("RA_PARENT", {{"Id", FieldType::kLong, 0, 0}, {"Name", FieldType::kAlpha, 8, 0}}, 1,
         {{"1", "one"}, {"2", "two"}});
  // The child by pxlib, its rules and indexes by hand.
  const std::vector<RuleField> child = {
      {0x04, 4, "Id"}, {0x04, 4, "Pid"}, {0x01, 10, "Code"}, {0x04, 4, "Qty"}};
  ASSERT_EQ(MakePxTable((folder_ / "RB_CHILD.db").string(),
                        {{"Id", 4, 4}, {"Pid", 4, 4}, {"Code", 1, 10}, {"Qty", 4, 4}},
                        {{PxInt(1), PxInt(1), PxText("Abc"), PxInt(5)},
                         {PxInt(2), PxInt(2), PxText("abd"), PxInt(7)}}),
            "");
  WriteFile((folder_ / "RB_CHILD.VAL").string(),
            BuildVal(0x0C, child,
                     {{3, true, "", FlipInt(4, 1), FlipInt(4, 100), FlipInt(4, 3), ""},
                      {2, false, "", "", "", "", "*&"}},
                     {{"parent", {2}, "RA_PARENT.DB", {1}, true}}));
  WriteFile((folder_ / "RB_CHILD.XG0").string(),
            BuildIndexHeader(Index(6, child[2], 3, 0x01, "code")));
  WriteFile((folder_ / "RB_CHILD.X04").string(), BuildIndexHeader(Index(3, child[3], 4, 0, "")));
  // Every rule of this one is broken by a row.
  Writer("RC_BROKEN",
         {{"N", FieldType::kLong, 0, 0},
          {"Tag", FieldType::kAlpha, 5, 0},
          {"Ref", FieldType::kLong, 0, 0}},
         0, {{"1", "a", "1"}, {"", "a", "1"}, {"50", "b", "9"}});
  const std::vector<RuleField> broken = {{0x04, 4, "N"}, {0x01, 5, "Tag"}, {0x04, 4, "Ref"}};
  WriteFile((folder_ / "RC_BROKEN.VAL").string(),
            BuildVal(0x0B, broken,
                     {{0, true, "", "", FlipInt(4, 10), "", ""},
                      {2, false, "RA_PARENT.DB", "", "", "", ""}}));
  WriteFile((folder_ / "RC_BROKEN.XG0").string(),
            BuildIndexHeader(Index(6, broken[1], 2, 0x20, "tag")));

  // Walked bottom-up: both children go before their parent.
  SelectParadox({"RA_PARENT", "RB_CHILD", "RC_BROKEN"});
  transfer::ToPostgresOptions on;
  on.keep_types = true;
  EXPECT_EQ(Send(on).failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
  EXPECT_EQ(PgRows("SELECT count(*) FROM \"RC_BROKEN\"")[0][0].text(), "3");

  struct Refused {
    const char* statement;
    const char* sqlstate;
  };
  // A lookup refuses a change of the key it looks up; a reference that
  // cascades carries it.
  for (const Refused& r :
       {Refused{"INSERT INTO \"RB_CHILD\" VALUES (9, 1, 'q', NULL)", "23502"},
        Refused{"INSERT INTO \"RB_CHILD\" VALUES (9, 1, 'q', 1000)", "23514"},
        Refused{"INSERT INTO \"RB_CHILD\" VALUES (9, 77, 'q', 5)", "23503"},
        Refused{"INSERT INTO \"RC_BROKEN\" VALUES (11, 'c', 1)", "23514"},
        Refused{"INSERT INTO \"RC_BROKEN\" VALUES (1, 'c', 77)", "23503"},
        Refused{"UPDATE \"RA_PARENT\" SET \"Id\" = 7 WHERE \"Id\" = 1", "23503"}}) {
    const Status s = PgTry(r.statement);
    EXPECT_EQ(s.sqlstate(), r.sqlstate) << r.statement << ": " << s.message();
  }
  Pg("INSERT INTO \"RB_CHILD\"(\"Id\") VALUES (10)");
  EXPECT_EQ(PgRows("SELECT \"Qty\" FROM \"RB_CHILD\" WHERE \"Id\" = 10")[0][0].text(), "3");
  EXPECT_EQ(PgRows("SELECT col_description('\"RB_CHILD\"'::regclass, 3)")[0][0].text(),
            "Paradox picture: *&");
  Pg("UPDATE \"RA_PARENT\" SET \"Id\" = 6 WHERE \"Id\" = 2");
  EXPECT_EQ(PgRows("SELECT \"Pid\" FROM \"RB_CHILD\" WHERE \"Id\" = 2")[0][0].text(), "6");
  // Left off or not valid: the rows that broke them stay, new NULLs pass.
  Pg("INSERT INTO \"RC_BROKEN\" VALUES (NULL, 'a', NULL)");

  const std::vector<std::string> messages = Messages();
  std::string all;
  for (const std::string& m : messages) all += m + "\n";
  for (const char* expected :
       {"NOT NULL on \"N\" of RC_BROKEN is left off: the row (,a,1) breaks it.",
        "CHECK (\"N\" <= '10') on RC_BROKEN is added NOT VALID, so it binds new rows only: the "
        "row (50,b,9) breaks it.",
        "UNIQUE index \"RC_BROKEN_tag\" on RC_BROKEN is left off (a plain index is made "
        "instead): the row (a) breaks it.",
        "FOREIGN KEY (\"Ref\") REFERENCES \"RA_PARENT\"(\"Id\") on RC_BROKEN is added NOT VALID, "
        "so it binds new rows only: the row (50,b,9) breaks it."}) {
    EXPECT_NE(all.find(expected), std::string::npos) << expected << "\n" << all;
  }
  EXPECT_EQ(messages.size(), 4u) << all;

  // Lookups by a secondary field use its index.
  Pg("INSERT INTO \"RB_CHILD\" SELECT 100 + g, NULL, 'C' || g, g % 100 + 1 "
     "FROM generate_series(1, 5000) g");
  Pg("ANALYZE \"RB_CHILD\"");
  for (const char* lookup : {"lower(\"Code\") = 'c1234'", "\"Qty\" = 42"}) {
    std::string plan;
    for (const auto& row :
         PgRows(std::string("EXPLAIN SELECT * FROM \"RB_CHILD\" WHERE ") + lookup)) {
      plan += row[0].text() + "\n";
    }
    EXPECT_NE(plan.find("Index"), std::string::npos) << lookup << "\n" << plan;
  }

  // The parent copied again: the foreign keys to it step aside for the drop
  // and come back, NOT VALID where the new rows break them.
  fake_.dialogs.shown.clear();
  fake_.paradox_list.Clear();
  SelectParadox({"RA_PARENT"});
  EXPECT_EQ(Send(on).failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
  EXPECT_EQ(PgRows("SELECT count(*) FROM pg_constraint WHERE contype = 'f' AND confrelid = "
                   "'\"RA_PARENT\"'::regclass")[0][0]
                .text(),
            "2");
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "FOREIGN KEY \"RB_CHILD_Pid_fkey\" of \"RB_CHILD\" is added NOT VALID, "
                            "so it binds new rows only: rows break it."});
  DropAll();
}

// The server goes away while the rules are added (at the first message):
// one failure dialog says so, no further rule is tried, the rows stay.
TEST_F(ParadoxRulesTest, ALostServerDuringTheRulesIsOneFailure) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  (void)PgTry("DROP TABLE IF EXISTS \"RD_LOST\"");
  drop_after_.push_back("RD_LOST");
  Writer("RD_LOST", {{"N", FieldType::kLong, 0, 0}, {"Tag", FieldType::kAlpha, 5, 0}}, 0,
         {{"", "a"}, {"50", "b"}});
  const std::vector<RuleField> fields = {{0x04, 4, "N"}, {0x01, 5, "Tag"}};
  WriteFile((folder_ / "RD_LOST.VAL").string(),
            BuildVal(0x0B, fields, {{0, true, "", "", FlipInt(4, 10), "", ""}}));
  WriteFile((folder_ / "RD_LOST.X02").string(), BuildIndexHeader(Index(3, fields[1], 2, 0, "")));
  Pg("CREATE TABLE \"RD_LOST\"(\"N\" integer, \"Tag\" varchar(5))");
  Pg("INSERT INTO \"RD_LOST\" VALUES (NULL, 'a'), (50, 'b')");

  Connection postgres;
  ASSERT_TRUE(postgres.Open(PostgresConnectionString(fake_.settings.settings)).ok());
  auto pid = postgres.Execute("SELECT pg_backend_pid()");
  ASSERT_TRUE(pid.ok());
  const std::string backend = (*pid)->FieldValue(0).text();
  (*pid)->Close();
  struct CuttingDialogs : ui::ScriptedDialogs {
    std::function<void()> cut;
    void Message(const std::string& text, std::optional<std::string> title,
                 ui::MessageIcon icon) override {
      if (icon == ui::MessageIcon::kNone && cut) std::exchange(cut, nullptr)();
      ui::ScriptedDialogs::Message(text, title, icon);
    }
  } dialogs;
  dialogs.cut = [&] { Pg("SELECT pg_terminate_backend(" + backend + ", 10000)"); };
  ui::Procedure proc(dialogs, "Form2.PushButton4_Click");
  std::string statement;
  transfer::RuleKeeper keeper(postgres, dialogs, proc, statement);
  Result<paradox::TableInfo> layout =
      paradox::TableReader::ReadInfo((folder_ / "RD_LOST.db").string());
  ASSERT_TRUE(layout.ok());
  keeper.AddTableRules("RD_LOST", *layout);
  keeper.AddReferences();
  EXPECT_EQ(dialogs.Failures().size(), 1u) << ::testing::PrintToString(dialogs.Failures());
  EXPECT_EQ(PgRows("SELECT count(*) FROM \"RD_LOST\"")[0][0].text(), "2");
}

}  // namespace
}  // namespace corvane::testing
