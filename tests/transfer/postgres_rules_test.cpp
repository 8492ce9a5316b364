// "Keep field types and keys" back to Paradox: the rules the server prints
// are read back narrowly; those with a Paradox form arrive as the table's
// .val and secondary indexes, the others are told once; and the rules of
// every real sample, sent to PostgreSQL and back, come back the same with
// indexes that find their records.
#include "transfer/postgres_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "paradox/fixture_builder.h"
#include "paradox/index_check.h"
#include "paradox/table_reader.h"
#include "paradox/table_rules.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using transfer::CheckPart;

std::string Shown(const std::optional<std::vector<CheckPart>>& parts) {
  if (!parts) return "none";
  std::string out;
  for (const CheckPart& p : *parts) {
    out += p.column + (p.kind == CheckPart::kMinimum   ? ">="
                       : p.kind == CheckPart::kMaximum ? "<="
                                                       : " required") +
           p.value + ";";
  }
  return out;
}

TEST(PostgresRulesParseTest, WhatTheServerPrintsReadsBackNarrowly) {
  const std::pair<const char*, const char*> checks[] = {
      {"CHECK (((\"N\" >= 1) AND (\"N\" <= '-5'::integer)))", "N>=1;N<=-5;"},
      {"CHECK (((c)::text >= 'a''b'::text))", "c>=a'b;"},
      {"CHECK (((d >= '2020-01-01'::date) AND (d <= '2021-01-01'::date))) NOT VALID",
       "d>=2020-01-01;d<=2021-01-01;"},
      {"CHECK ((f <= ('10000000000'::numeric)::double precision))", "f<=10000000000;"},
      {"CHECK ((\"Odd \"\"x\"\"\" IS NOT NULL))", "Odd \"x\" required;"},
      {"CHECK ((n > 3))", "none"},
      {"CHECK (((n >= 1) OR (n <= 9)))", "none"},
      {"CHECK ((lower(c) >= 'a'::text))", "none"},
      {"CHECK ((n >= m))", "none"},
      {"CHECK ((Mixed >= 1))", "none"},
      {"CHECK ((c >= ('a'::text || 'b'::text)))", "none"},
  };
  for (const auto& [definition, expected] : checks) {
    EXPECT_EQ(Shown(transfer::CheckPartsOf(definition)), expected) << definition;
  }
  const std::pair<const char*, std::optional<std::string>> constants[] = {
      {"'x'::character varying", "x"}, {"'-2.5'::numeric", "-2.5"}, {"1.5", "1.5"},
      {"true", "True"},                {"false", "False"},          {"'q''r'::text", "q'r"},
      {"1e10", "1e10"},                {"now()", std::nullopt},     {"CURRENT_DATE", std::nullopt},
      {"(1 + 2)", std::nullopt},       {"nextval('s'::regclass)", std::nullopt}};
  for (const auto& [expression, expected] : constants) {
    EXPECT_EQ(transfer::ConstantOf(expression), expected) << expression;
  }
  const std::pair<const char*, const char*> keys[] = {
      {"c", "c"}, {"\"Name\"", "Name"}, {"lower(c::text)", "lower c"},
      {"lower((\"Name\")::text)", "lower Name"}, {"upper(c)", "none"}, {"(a + b)", "none"}};
  for (const auto& [key, expected] : keys) {
    const auto k = transfer::IndexKeyOf(key);
    EXPECT_EQ(k ? (k->lowered ? "lower " : "") + k->column : "none", expected) << key;
  }
}

class PostgresRulesTest : public ToParadoxTest {
 protected:
  transfer::TransferOutcome Back(bool keep = true) {
    ui::TablesWindow window = fake_.Window();
    window.program_folder = program_.string();
    transfer::ToParadoxOptions options;
    options.keep_types = keep;
    return transfer::SendTablesToParadoxWith(window, options);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& s : fake_.dialogs.shown) {
      if (s.kind == "message") out.push_back(s.text);
    }
    return out;
  }
  paradox::TableRules RulesOf(const std::string& db) {
    auto info = paradox::TableReader::ReadInfo((folder_ / db).string());
    EXPECT_TRUE(info.ok()) << db;
    return info.ok() ? paradox::ReadTableRules(*info) : paradox::TableRules{};
  }
};

TEST_F(PostgresRulesTest, RulesWithAParadoxFormArriveAndTheOthersAreToldOnce) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  MakePgTable("pr_rules",
              "id integer PRIMARY KEY, \"Qty\" smallint NOT NULL CHECK (\"Qty\" BETWEEN -5 AND "
              "500) DEFAULT 7, name varchar(12) DEFAULT 'n''a', d date CHECK (d >= '2001-02-03'), "
              "ok boolean DEFAULT true, t timestamp DEFAULT now(), s integer CHECK (s > 0), "
              "p integer REFERENCES pr_rules(id)",
              {"1, 3, 'Apple', '2002-01-01', true, now(), 1, NULL",
               "2, 9, 'apple', '2003-01-01', false, now(), 2, 1",
               "3, 9, 'Cherry', NULL, NULL, now(), 3, NULL"});
  Pg("CREATE INDEX pr_rules_qty ON pr_rules(\"Qty\")");
  Pg("COMMENT ON COLUMN pr_rules.name IS 'a note\nParadox picture: *!'");
  Pg("CREATE INDEX pr_rules_folded ON pr_rules(lower(name) DESC, \"Qty\" DESC)");
  Pg("CREATE UNIQUE INDEX pr_rules_once ON pr_rules(d)");
  Pg("CREATE INDEX pr_rules_some ON pr_rules(s) WHERE s > 1");
  Pg("CREATE INDEX pr_rules_mixed ON pr_rules(s, d DESC)");
  SelectPostgres({"pr_rules"});
  ASSERT_EQ(Back().failures, 0) << FirstFailure();
  const std::vector<std::string> messages = Messages();
  ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
  for (const char* left_off : {"now()", "\"pr_rules_s_check\"", "\"pr_rules_some\"",
                               "\"pr_rules_mixed\"", "FOREIGN KEY (p)"}) {
    EXPECT_NE(messages[0].find(left_off), std::string::npos) << messages[0];
  }
  const paradox::TableRules rules = RulesOf("pr_rules.db");
  EXPECT_TRUE(rules.problems.empty());
  ASSERT_TRUE(rules.validity);
  std::map<int, paradox::FieldRule> by_field;
  for (const auto& r : rules.validity->rules) by_field[r.field] = r;
  EXPECT_TRUE(by_field[1].required);
  EXPECT_EQ(by_field[1].minimum, "-5");
  EXPECT_EQ(by_field[1].maximum, "500");
  EXPECT_EQ(by_field[1].default_value, "7");
  EXPECT_EQ(by_field[2].default_value, "n'a");
  EXPECT_EQ(by_field[2].picture, "*!");
  EXPECT_EQ(by_field[3].minimum, "2001-02-03");
  EXPECT_EQ(by_field[4].default_value, "True");
  EXPECT_FALSE(by_field[6].minimum);
  ASSERT_EQ(rules.indexes.size(), 3u);
  std::map<std::string, paradox::SecondaryIndex> by_name;
  for (const auto& x : rules.indexes) by_name[x.name] = x;
  EXPECT_EQ(by_name["Qty"].fields, std::vector<int>{1});
  EXPECT_FALSE(by_name["Qty"].composite);
  EXPECT_EQ(by_name["folded"].fields, (std::vector<int>{2, 1}));
  EXPECT_TRUE(by_name["folded"].case_insensitive && by_name["folded"].descending);
  EXPECT_TRUE(by_name["once"].unique);

  // Without the option no rule files; sent again with it over a table
  // that lost its indexes, none of the old rule files is left.
  fake_.dialogs.shown.clear();
  Pg("DROP INDEX pr_rules_qty, pr_rules_folded, pr_rules_once, pr_rules_some, pr_rules_mixed");
  fake_.dialogs.answers = {ui::Answer::kYes};
  ASSERT_EQ(Back(false).failures, 0) << FirstFailure();
  EXPECT_EQ(TableFilesInFolder(), std::vector<std::string>{"pr_rules.db"});
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

bool IsText(paradox::FieldType t) { return t == paradox::FieldType::kAlpha; }

// Every sample with a .val or a secondary index: to PostgreSQL and back,
// field rules and indexes equal the original (a key field's "required" is
// the key's own either way), and each index finds its records.
TEST_F(PostgresRulesTest, SampleRulesComeBackTheSame) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  int n = 0, with_rules = 0;
  for (const std::string& table : paradox::testing::SampleTableFiles()) {
    Result<paradox::TableInfo> original = paradox::TableReader::ReadInfo(table);
    if (!original.ok() || original->encrypted) continue;
    const paradox::TableRules want = paradox::ReadTableRules(*original);
    if (!want.validity && want.indexes.empty()) continue;
    ++with_rules;
    SCOPED_TRACE(table);
    const std::string name = "PRS" + std::to_string(++n), back = "PRB" + std::to_string(n);
    const fs::path sample(table);
    for (const auto& file : fs::directory_iterator(sample.parent_path())) {
      if (file.path().stem() == sample.stem()) {
        fs::copy_file(file.path(), folder_ / (name + file.path().extension().string()));
      }
    }
    fake_.dialogs.shown.clear();
    fake_.paradox_list.Clear();
    SelectParadox({name});
    transfer::ToPostgresOptions on;
    on.keep_types = true;
    ASSERT_EQ(Send(on).failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
    Pg("ALTER TABLE \"" + name + "\" RENAME TO \"" + back + "\"");
    drop_after_.push_back(back);
    fake_.dialogs.shown.clear();
    fake_.postgres_list.Clear();
    SelectPostgres({back});
    ASSERT_EQ(Back().failures, 0) << FirstFailure();
    for (const std::string& m : Messages()) ADD_FAILURE() << m;
    const paradox::TableRules got = RulesOf(back + ".db");
    EXPECT_TRUE(got.problems.empty()) << ::testing::PrintToString(got.problems);
    auto info = paradox::TableReader::ReadInfo((folder_ / (back + ".db")).string());
    ASSERT_TRUE(info.ok());
    auto name_of = [](const paradox::TableInfo& t, int f) { return t.fields[f].name; };
    // Field rules by field name.
    std::map<std::string, paradox::FieldRule> came;
    if (got.validity) {
      for (const auto& r : got.validity->rules) came[name_of(*info, r.field)] = r;
    }
    for (const auto& r : want.validity ? want.validity->rules : std::vector<paradox::FieldRule>{}) {
      const std::string field = name_of(*original, r.field);
      const paradox::FieldRule& c = came[field];
      const bool key = r.field < original->key_fields;
      EXPECT_TRUE(key || c.required == r.required) << field;
      EXPECT_EQ(c.minimum, r.minimum) << field;
      EXPECT_EQ(c.maximum, r.maximum) << field;
      EXPECT_EQ(c.default_value, r.default_value) << field;
      EXPECT_EQ(c.picture, r.picture) << field;
    }
    ASSERT_EQ(got.indexes.size(), want.indexes.size());
    for (const paradox::SecondaryIndex& w : want.indexes) {
      std::vector<std::string> fields;
      for (int f : w.fields) fields.push_back(name_of(*original, f));
      const auto it = std::find_if(got.indexes.begin(), got.indexes.end(), [&](const auto& g) {
        std::vector<std::string> names;
        for (int f : g.fields) names.push_back(name_of(*info, f));
        return names == fields;
      });
      ASSERT_NE(it, got.indexes.end()) << w.file;
      bool text = false;
      for (int f : w.fields) text = text || IsText(original->fields[f].type);
      EXPECT_EQ(it->composite, w.composite) << w.file;
      EXPECT_EQ(it->unique, w.unique) << w.file;
      EXPECT_EQ(it->descending, w.descending) << w.file;
      EXPECT_TRUE(!text || it->case_insensitive == w.case_insensitive) << w.file;
      EXPECT_EQ(paradox::testing::IndexRecordsProblem(*info, *it, folder_), "") << it->file;
    }
  }
  EXPECT_GT(with_rules, 0);
}

}  // namespace
}  // namespace corvane::testing
