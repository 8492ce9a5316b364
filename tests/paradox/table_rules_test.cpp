// The .val and secondary index readers: hand-built files of both .val
// layouts decode to their rules, a damaged file of any length is one
// problem and never a crash, and every real sample reads.
#include "paradox/table_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "paradox/fixture_builder.h"
#include "paradox/table_reader.h"

namespace corvane::paradox::testing {
namespace {

namespace fs = std::filesystem;

std::string Le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Padded(const std::string& s, size_t n) { return s + std::string(n - s.size(), '\0'); }

// One field record and the values that follow it. Pointers are only
// tested for zero, so any non-zero value stands for "present".
std::string Record(int field, bool required, const std::string& lookup, const std::string& min,
                   const std::string& max, const std::string& def, const std::string& picture) {
  auto present = [](const std::string& v) { return Le32(v.empty() ? 0 : 0x6B000010); };
  std::string r(1, static_cast<char>(field));
  r += static_cast<char>(picture.empty() ? 0 : picture.size() + 1);
  r += static_cast<char>(required ? 1 : 0);
  r += static_cast<char>(lookup.empty() ? 0 : 3);
  r += present(lookup) + Le32(0) + present(min) + present(max) + present(def) + present(picture);
  if (!lookup.empty()) r += Padded(lookup, 0x50);
  r += min + max + def;
  if (!picture.empty()) r += picture + '\0';
  return r;
}

std::string Header(uint8_t version, int count) {
  std::string h(0x35, '\0');
  h[1] = static_cast<char>(version);
  h[2] = static_cast<char>(count);
  return h;
}

const FixtureTable& Table() {
  static const FixtureTable table = [] {
    FixtureTable t;
    t.fields = {{0x04, 4, "N"}, {0x01, 10, "Name"}, {0x04, 4, "Parent"}};
    t.records = {FlipInt(4, 7) + Alpha(10, "seven") + FlipInt(4, 1)};
    return t;
  }();
  return table;
}

// Level 4+: records, one reference to P.DB, the footer naming the fields.
std::string Level5Val() {
  std::string v = Header(0x0B, 2);
  v += Record(0, true, "", FlipInt(4, 1), FlipInt(4, 100), FlipInt(4, 5), "");
  v += Record(1, false, "NAMES.DB", "", "", "", "&*?");
  const uint32_t refs = static_cast<uint32_t>(v.size());
  std::string ref =
      Padded("to parent", 0xD4) + Padded("P.DB", 0x19A - 0xD4) + Le32(0) + Le16(1) + Le16(3);
  ref = Padded(ref, 0x1C0) + Le16(1);
  v += Le16(1) + Padded(ref, 0x1E0) + Le16(0);
  const uint32_t footer = static_cast<uint32_t>(v.size());
  v += Le16(3) + Le32(0) + Le16(1) + Le16(2) + Le16(3) + "\x04\x04\x01\x0A\x04\x04";
  v += Padded("T.DB", 79) + std::string("N\0Name\0Parent\0", 14);
  v.replace(0x09, 4, Le32(footer));
  v.replace(0x0D, 4, Le32(refs));
  return v;
}

// Level 3: records alone, fields named by position.
std::string Level3Val() {
  return Header(0x01, 1) + Record(2, false, "P.DB", FlipInt(4, -3), "", "", "#*#");
}

class TableRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("rules");
    WriteFile(dir_ + "/T.DB", BuildDb(Table()));
    Result<TableInfo> info = TableReader::ReadInfo(dir_ + "/T.DB");
    ASSERT_TRUE(info.ok()) << info.status().message();
    info_ = *info;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_;
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
      {"footer past the end", 0x09, Le32(0x7FFFFFF0)},
      {"reference offset past the footer", 0x0D, Le32(0x7FFFFFF0)},
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

// The real .val and index files: each reads, and every cut-short copy of
// it is refused without a crash.
TEST(TableRulesSamplesTest, EverySampleReadsAndCutCopiesAreRefused) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  int with_rules = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".db" && ext != ".DB")) continue;
    Result<TableInfo> info = TableReader::ReadInfo(e.path().string());
    ASSERT_TRUE(info.ok()) << info.status().message();
    const TableRules rules = ReadTableRules(*info);
    EXPECT_TRUE(rules.problems.empty()) << e.path() << ": " << rules.problems.front();
    if (!rules.validity && rules.indexes.empty()) continue;
    ++with_rules;
    if (!rules.validity) continue;
    const std::string whole = ReadWholeFile(rules.validity->file);
    for (size_t n = 0; n < whole.size(); n += 7) {
      EXPECT_FALSE(DecodeValidity(whole.substr(0, n), *info, "cut").ok()) << e.path() << n;
    }
  }
  EXPECT_GE(with_rules, 20);
}

}  // namespace
}  // namespace corvane::paradox::testing
