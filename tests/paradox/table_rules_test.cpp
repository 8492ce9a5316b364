// The .val and secondary index readers: hand-built files of both .val
// layouts decode to their rules, a damaged file of any length is one
// problem and never a crash, and every real sample reads.
#include "paradox/table_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "paradox/fixture_builder.h"
#include "support/temp_folder.h"
#include "paradox/rules_builder.h"
#include "paradox/table_reader.h"

namespace corvane::paradox::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<RuleField> kFields = {{0x04, 4, "N"}, {0x01, 10, "Name"}, {0x04, 4, "Parent"}};

const FixtureTable& Table() {
  static const FixtureTable table = [] {
    FixtureTable t;
    for (const RuleField& f : kFields) t.fields.push_back({f.type, f.size, f.name});
    t.records = {FlipInt(4, 7) + Alpha(10, "seven") + FlipInt(4, 1)};
    return t;
  }();
  return table;
}

// Level 4+: records, one reference to P.DB, the footer naming the fields.
std::string Level5Val() {
  return BuildVal(0x0B, kFields,
                  {{0, true, "", FlipInt(4, 1), FlipInt(4, 100), FlipInt(4, 5), ""},
                   {1, false, "NAMES.DB", "", "", "", "&*?"}},
                  {{"to parent", {3}, "P.DB", {1}, false}});
}

// Level 3: records alone, fields named by position.
std::string Level3Val() {
  return BuildVal(0x01, {}, {{2, false, "P.DB", FlipInt(4, -3), "", "", "#*#"}});
}

class TableRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ + "/T.DB", BuildDb(Table()));
    Result<TableInfo> info = TableReader::ReadInfo(dir_ + "/T.DB");
    ASSERT_TRUE(info.ok()) << info.status().message();
    info_ = *info;
  }
  ::corvane::testing::TempFolder temp_{"corvane-reader-rules"};
  std::string dir_ = temp_.str();
  TableInfo info_;
};

TEST_F(TableRulesTest, BothLayoutsDecodeToTheirRules) {
  Result<Validity> v5 = DecodeValidity(Level5Val(), info_, "T.VAL");
  ASSERT_TRUE(v5.ok()) << v5.status().message();
  ASSERT_EQ(v5->rules.size(), 2u);
  const FieldRule& n = v5->rules[0];
  EXPECT_TRUE(n.required);
  EXPECT_EQ(n.minimum.value_or("-"), "1");
  EXPECT_EQ(n.maximum.value_or("-"), "100");
  EXPECT_EQ(n.default_value.value_or("-"), "5");
  EXPECT_EQ(v5->rules[1].field, 1);
  EXPECT_EQ(v5->rules[1].picture, "&*?");
  EXPECT_EQ(v5->rules[1].lookup_table, "NAMES.DB");
  ASSERT_EQ(v5->references.size(), 1u);
  EXPECT_EQ(v5->references[0].fields, std::vector<int>{2});
  EXPECT_EQ(v5->references[0].parent_table, "P.DB");
  EXPECT_EQ(v5->references[0].parent_fields, std::vector<int>{1});

  Result<Validity> v3 = DecodeValidity(Level3Val(), info_, "T.VAL");
  ASSERT_TRUE(v3.ok()) << v3.status().message();
  ASSERT_EQ(v3->rules.size(), 1u);
  EXPECT_EQ(v3->rules[0].field, 2);
  EXPECT_EQ(v3->rules[0].minimum.value_or("-"), "-3");
  EXPECT_EQ(v3->rules[0].lookup_table, "P.DB");
  EXPECT_EQ(v3->rules[0].picture, "#*#");
}

// Every shorter file, and files that claim more than they hold, fail with
// a message naming the file; ReadTableRules reports such a file once and
// goes on.
TEST_F(TableRulesTest, DamagedFilesAreOneProblemNeverACrash) {
  for (const std::string& whole : {Level5Val(), Level3Val()}) {
    for (size_t n = 0; n < whole.size(); ++n) {
      Result<Validity> v = DecodeValidity(whole.substr(0, n), info_, "T.VAL");
      ASSERT_FALSE(v.ok()) << "cut at " << n;
      EXPECT_NE(v.status().message().find("T.VAL"), std::string::npos);
    }
  }
  struct Case {
    const char* what;
    size_t offset;
    std::string bytes;
  };
  const Case cases[] = {
      {"unknown version", 1, "\x02"},
      {"more records than there are", 2, "\x09"},
      {"footer past the end", 0x09, std::string("\xF0\xFF\xFF\x7F", 4)},
      {"reference offset past the footer", 0x0D, std::string("\xF0\xFF\xFF\x7F", 4)},
      {"field the footer does not list", 0x35, "\x07"},
  };
  for (const Case& c : cases) {
    std::string v = Level5Val();
    v.replace(c.offset, c.bytes.size(), c.bytes);
    EXPECT_FALSE(DecodeValidity(v, info_, "T.VAL").ok()) << c.what;
  }
  std::string bad = Level5Val();
  bad[2] = 9;
  WriteFile(dir_ + "/T.VAL", bad);
  const TableRules rules = ReadTableRules(info_);
  EXPECT_FALSE(rules.validity.has_value());
  ASSERT_EQ(rules.problems.size(), 1u);
  EXPECT_NE(rules.problems[0].find("T.VAL"), std::string::npos);
}

// An index header of each kind reads back; one whose tail is not the
// table's key, or whose field the table lacks, is refused.
TEST_F(TableRulesTest, IndexHeadersDecodeOrAreRefused) {
  const RuleField name = kFields[1], parent = kFields[2];
  const std::vector<RuleField> place = {
      {0x04, 4, "Tup No"}, {0x03, 2, "Blk Num"}, {0x03, 2, "Tup Offset"}};
  IndexSpec composite{0x0C, 6, {name, parent}, {2, 0x8003}, 4, 0x31, "np", 9};
  composite.fields.insert(composite.fields.end(), place.begin(), place.end());
  composite.numbers.insert(composite.numbers.end(), {3, 4, 5});
  Result<SecondaryIndex> x =
      DecodeSecondaryIndex(BuildIndexHeader(composite), 2048, info_, "T.XG0");
  ASSERT_TRUE(x.ok()) << x.status().message();
  EXPECT_EQ(x->fields, (std::vector<int>{1, 2}));
  EXPECT_EQ(x->name, "np");
  EXPECT_TRUE(x->composite && x->case_insensitive && x->unique && x->descending);
  EXPECT_EQ(x->entries, 9u);

  IndexSpec wrong_tail = composite;
  wrong_tail.fields[3].name = "Blk";
  IndexSpec missing = composite;
  missing.numbers[0] = 9;
  for (const IndexSpec& bad : {wrong_tail, missing}) {
    EXPECT_FALSE(DecodeSecondaryIndex(BuildIndexHeader(bad), 2048, info_, "T.XG0").ok());
  }
  const std::string good = BuildIndexHeader(composite);
  for (size_t n = 0; n < 0x1D0; n += 3) {
    EXPECT_FALSE(DecodeSecondaryIndex(good.substr(0, n), 2048, info_, "T.XG0").ok()) << n;
  }
}

// The real .val and index files: each reads, and every cut-short copy of
// it is refused without a crash.
TEST(TableRulesSamplesTest, EverySampleReadsAndCutCopiesAreRefused) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  int with_rules = 0;
  for (const std::string& table : testing::SampleTableFiles()) {
    const fs::path path(table);
    Result<TableInfo> info = TableReader::ReadInfo(table);
    ASSERT_TRUE(info.ok()) << info.status().message();
    const TableRules rules = ReadTableRules(*info);
    EXPECT_TRUE(rules.problems.empty()) << path << ": " << rules.problems.front();
    if (!rules.validity && rules.indexes.empty()) continue;
    ++with_rules;
    if (!rules.validity) continue;
    const std::string whole = ReadWholeFile(rules.validity->file);
    for (size_t n = 0; n < whole.size(); n += 7) {
      EXPECT_FALSE(DecodeValidity(whole.substr(0, n), *info, "cut").ok()) << path << n;
    }
  }
  EXPECT_GE(with_rules, 20);
}

}  // namespace
}  // namespace corvane::paradox::testing
