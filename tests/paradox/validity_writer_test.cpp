#include "paradox/validity_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "paradox/fixture_builder.h"
#include "paradox/table_reader.h"
#include "paradox/table_rules.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

auto Key(const FieldRule& r) {
  return std::tie(r.field, r.required, r.minimum, r.maximum, r.default_value, r.picture,
                  r.lookup_table, r.lookup_fill_all, r.lookup_help);
}

void ExpectSameRules(const std::vector<FieldRule>& want, const std::vector<FieldRule>& got,
                     const std::string& where) {
  ASSERT_EQ(want.size(), got.size()) << where;
  for (size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(Key(want[i]) == Key(got[i])) << where << " rule " << i;
}

TableInfo Table(uint8_t version) {
  TableInfo t;
  t.path = "/x/ORDERS.DB";
  t.version_byte = version;
  t.code_page = 1252;
  t.fields = {{"Id", FieldType::kLong, 4, 0},
              {"Name", FieldType::kAlpha, 20, 0},
              {"Price", FieldType::kNumber, 8, 0},
              {"Paid", FieldType::kLogical, 1, 0},
              {"Note", FieldType::kMemo, 15, 0}};
  if (version >= kFirstExtendedVersion) t.field_numbers = {1, 2, 5, 3, 4};
  return t;
}

// Every layout the reader knows gets back what was written, bounds and
// defaults in the field's own encoding, names in the table's code page.
TEST(ValidityWriterTest, RulesComeBackThroughTheReader) {
  std::vector<FieldRule> rules(4);
  rules[0].field = 0;
  rules[0].required = true;
  rules[0].minimum = "1";
  rules[0].maximum = "99999";
  rules[1].field = 1;
  rules[1].default_value = "Müller";
  rules[1].picture = "*!";
  rules[2].field = 2;
  rules[2].minimum = "-0.5";
  rules[3].field = 3;
  rules[3].default_value = "True";
  for (uint8_t version : {uint8_t{0x03}, uint8_t{0x09}, uint8_t{0x0C}}) {
    const TableInfo t = Table(version);
    Result<std::string> bytes = EncodeValidity(t, rules);
    ASSERT_TRUE(bytes.ok()) << bytes.status().message();
    Result<Validity> back = DecodeValidity(*bytes, t, "ORDERS.VAL");
    ASSERT_TRUE(back.ok()) << back.status().message();
    ExpectSameRules(rules, back->rules, "version " + std::to_string(version));
  }
}

// Rules the file cannot hold are refused with the field named, never
// written changed or dropped without a word.
TEST(ValidityWriterTest, RulesWithoutAFormAreRefused) {
  const TableInfo t = Table(0x09);
  struct Case {
    int field;
    std::optional<std::string> minimum, default_value;
    std::string expect;
  } cases[] = {
      {4, "a", std::nullopt, "Note"},               // a bound on a memo
      {0, "3000000000", std::nullopt, "Id"},        // beyond a Long
      {1, std::nullopt, std::string(21, 'x'), "Name"},  // longer than the field
      {9, "1", std::nullopt, "field 10"},            // no such field
  };
  for (const Case& c : cases) {
    FieldRule r;
    r.field = c.field;
    r.minimum = c.minimum;
    r.default_value = c.default_value;
    Result<std::string> bytes = EncodeValidity(t, {r});
    ASSERT_FALSE(bytes.ok()) << c.expect;
    EXPECT_NE(bytes.status().message().find(c.expect), std::string::npos)
        << bytes.status().message();
  }
  FieldRule nothing;
  nothing.field = 1;
  Result<std::string> none = EncodeValidity(t, {nothing});
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->empty()) << "a rule asking nothing still made a file";
}

// Each real sample's checks, written again for its table, read back the same.
TEST(ValidityWriterSamplesTest, EverySampleRewritesToTheSameRules) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  int checked = 0;
  for (const std::string& table : testing::SampleTableFiles()) {
    const fs::path path(table);
    Result<TableInfo> info = TableReader::ReadInfo(table);
    ASSERT_TRUE(info.ok()) << info.status().message();
    const TableRules rules = ReadTableRules(*info);
    if (!rules.validity) continue;
    // Records that ask nothing (some samples keep them) and references are
    // not the writer's to keep.
    std::vector<FieldRule> want;
    for (const FieldRule& r : rules.validity->rules) {
      if (r.required || r.minimum || r.maximum || r.default_value || !r.picture.empty() ||
          !r.lookup_table.empty()) {
        want.push_back(r);
      }
    }
    Result<std::string> bytes = EncodeValidity(*info, rules.validity->rules);
    ASSERT_TRUE(bytes.ok()) << path << ": " << bytes.status().message();
    if (want.empty()) {
      EXPECT_TRUE(bytes->empty()) << path;
      continue;
    }
    Result<Validity> back = DecodeValidity(*bytes, *info, table);
    ASSERT_TRUE(back.ok()) << path << ": " << back.status().message();
    ExpectSameRules(want, back->rules, table);
    ++checked;
  }
  EXPECT_GT(checked, 0) << "no sample has a .val";
}

}  // namespace
}  // namespace corvane::paradox
