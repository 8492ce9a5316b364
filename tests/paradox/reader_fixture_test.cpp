// The reader against hand-built files: every field type and text form,
// every table level, keyed tables with a chain out of physical order, and
// blobs in the record, in shared and in single .mb blocks.
#include <gtest/gtest.h>

#include <filesystem>

#include "paradox/code_page.h"
#include "paradox/crypt.h"
#include "paradox/fixture_builder.h"
#include "support/temp_folder.h"
#include "paradox/read_all.h"

namespace corvane::paradox::testing {
namespace {

class ReaderFixtureTest : public ::testing::Test {
 protected:
  std::string Write(const FixtureTable& t, const std::string& name = "fixture.db") {
    const std::string path = dir_ + "/" + name;
    WriteFile(path, BuildDb(t));
    return path;
  }
  ::corvane::testing::TempFolder temp_{"corvane-reader-fixture"};
  std::string dir_ = temp_.str();
};

FixtureTable AllScalars() {
  FixtureTable t;
  t.fields = {{0x01, 10, "Name"}, {0x02, 4, "Born"},  {0x03, 2, "Small"},  {0x04, 4, "Big"},
              {0x05, 8, "Pay"},   {0x06, 8, "Ratio"}, {0x09, 1, "Ok"},     {0x14, 4, "At"},
              {0x15, 8, "Stamp"}, {0x16, 4, "Id"},    {0x17, 2, "Amount"}, {0x18, 4, "Raw"}};
  std::string noisy = Bcd(2, "5.50");
  noisy[16] = '\x5B';  // a non-decimal nibble, as BDE leaves in low digits
  std::string bde_null = Zeros(17);
  bde_null[0] = 2;  // BDE's NULL: the scale, then zeros
  t.records = {
      Alpha(10, "Ann") + FlipInt(4, 728783) + FlipInt(2, -1) + FlipInt(4, 100000) +
          FlipDouble(-12.34) + FlipDouble(0.1) + FlipInt(1, 1) + FlipInt(4, 37800000) +
          FlipDouble(63716202001000.0) + FlipInt(4, 1) + Bcd(2, "-1.23") +
          std::string("\x01\x00\x02\x00", 4),
      Zeros(10 + 4 + 2 + 4 + 8 + 8 + 1 + 4 + 8 + 4) + bde_null + Zeros(4),
      "ABCDEFGHIJ" + FlipInt(4, -366) + FlipInt(2, 32767) + FlipInt(4, -2147483647) +
          FlipDouble(1e20) + FlipDouble(-1000) + FlipInt(1, 0) + FlipInt(4, 0) +
          FlipDouble(-31618800000.0) + FlipInt(4, 2147483647) + Bcd(2, "0") + "\xff\xff\xff\xff",
      Alpha(10, "  x ") + FlipInt(4, 1) + FlipInt(2, 0) + FlipInt(4, 0) + FlipDouble(0) +
          FlipDouble(-0.5) + FlipInt(1, 1) + FlipInt(4, 86399999) + FlipDouble(63082368000123.0) +
          FlipInt(4, 7) + noisy + std::string("\x00\x00\x00\x01", 4),
  };
  return t;
}

TEST_F(ReaderFixtureTest, EveryScalarTypeInItsTextFormWithNulls) {
  Result<std::vector<Row>> rows = ReadAll(Write(AllScalars()));
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  const std::vector<Row> want = {
      {"Ann", "1996-05-04", "-1", "100000", "-12.34", "0.1", "True", "10:30:00",
       "2020-02-01 01:00:01", "1", "-1.23", "\\x01000200"},
      {kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull},
      {"ABCDEFGHIJ", "0002-12-31 BC", "32767", "-2147483647", "1e+20", "-1000", "False", "00:00:00",
       "0002-12-31 01:00:00 BC", "2147483647", "0.00", "\\xffffffff"},
      {"  x ", "0001-01-01", "0", "0", "0", "-0.5", "True", "23:59:59.999",
       "2000-01-01 00:00:00.123", "7", "5.50", "\\x00000001"},
  };
  EXPECT_EQ(*rows, want);
}

TEST_F(ReaderFixtureTest, HeaderFactsOfEveryLevel) {
  struct Case {
    uint8_t version;
    const char* level;
  };
  for (const Case c :
       {Case{3, "3.0"}, Case{4, "3.5"}, Case{9, "4"}, Case{11, "5"}, Case{12, "7"}}) {
    FixtureTable t;
    t.version = c.version;
    t.sort_byte = 0xC0;  // 'cyrr': DOS Cyrillic for 3.x tables
    t.sort_id = "cyrr";
    t.code_page = 866;
    t.fields = {{0x01, 8, "\x8a\xae\xa4"}, {0x03, 2, "Qty"}, {0x06, 8, "Price"}};
    t.records = {Alpha(8, "\x8c\xa8\xe0") + FlipInt(2, 5) + FlipDouble(2.5)};
    const std::string path = Write(t, "level" + std::to_string(c.version) + ".db");
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
    ASSERT_TRUE(r.ok()) << r.status().message();
    const TableInfo& info = (*r)->info();
    EXPECT_EQ(info.level, c.level);
    EXPECT_EQ(info.code_page, 866);
    EXPECT_EQ(info.fields[0].name, "Код");
    EXPECT_EQ(info.record_count, 1u);
    if (c.version == 3) {
      EXPECT_NE(info.header_size % 0x800, 0);
    }
    Result<std::vector<Row>> rows = ReadAll(path);
    ASSERT_TRUE(rows.ok()) << rows.status().message();
    EXPECT_EQ(*rows, (std::vector<Row>{{"Мир", "5", "2.5"}}));
  }
}

// A header without a usable code page falls back on its sort order's
// driver; every driver the writer names must lead back to its code page.
TEST_F(ReaderFixtureTest, EveryDriverTheWriterNamesGivesItsCodePageBack) {
  for (int cp : ExportCodePages()) {
    const LanguageDriver driver = LanguageDriverFor(cp);
    FixtureTable t;
    t.code_page = 0;
    t.sort_id = driver.name;
    t.fields = {{0x03, 2, "Qty"}};
    t.records = {FlipInt(2, 5)};
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(Write(t));
    ASSERT_TRUE(r.ok()) << r.status().message();
    const bool named = std::string_view(driver.name) != "ascii";
    EXPECT_EQ((*r)->info().code_page, named ? cp : 437) << driver.name;
  }
}

TEST_F(ReaderFixtureTest, KeyedTableFollowsItsChainNotThePhysicalOrder) {
  FixtureTable t;
  t.file_type = 0;
  t.block_kib = 1;
  t.fields = {{0x04, 4, "Key"}};
  for (int i = 1; i <= 600; ++i) t.records.push_back(FlipInt(4, i));
  t.per_block = 200;
  t.chain = {1, 4, 2};  // block 3 is a free block off the chain
  const std::string path = Write(t);
  Result<std::vector<Row>> rows = ReadAll(path);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  ASSERT_EQ(rows->size(), 600u);
  for (int i = 0; i < 600; ++i) ASSERT_EQ((*rows)[i][0], std::to_string(i + 1));
  Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE((*r)->info().keyed);
}

TEST_F(ReaderFixtureTest, LastBlockCutAfterItsLastRecordAndCountMismatch) {
  FixtureTable t;
  t.fields = {{0x03, 2, "N"}};
  for (int i = 0; i < 1500; ++i) t.records.push_back(FlipInt(2, i));
  t.record_count_delta = 3;
  std::string db = BuildDb(t);
  db.resize(db.size() - 1000);  // the last block holds 478 records: 962 bytes
  const std::string path = dir_ + "/cut.db";
  WriteFile(path, db);
  Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ((*r)->info().record_count, 1500u);
  ASSERT_EQ((*r)->info().notes.size(), 1u);
  EXPECT_NE((*r)->info().notes[0].find("1503"), std::string::npos);
  Result<std::vector<Row>> rows = ReadAll(path);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  ASSERT_EQ(rows->size(), 1500u);
  EXPECT_EQ(rows->back()[0], "1499");
}

TEST_F(ReaderFixtureTest, PasswordProtectedTablesAreReadWithTheKeyInTheirHeader) {
  FixtureTable t = AllScalars();
  t.encryption_key = 0x1234ABCD;
  const std::string path = Write(t);
  Result<std::vector<Row>> plain = ReadAll(Write(AllScalars(), "plain.db"));
  Result<std::vector<Row>> rows = ReadAll(path);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  EXPECT_EQ(*rows, *plain);
  Result<TableInfo> info = TableReader::ReadInfo(path);
  ASSERT_TRUE(info.ok());
  EXPECT_TRUE(info->encrypted);
  // A key that does not fit the blocks: reported as protected, not as garbage.
  std::string db = BuildDb(t);
  db[0x5C] = static_cast<char>(db[0x5C] ^ 0x5A);
  WriteFile(path, db);
  Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().message().rfind(path + " is password-protected", 0), 0u)
      << r.status().message();
}

// --- blobs ------------------------------------------------------------------

std::string Prefixed(uint8_t kind, const std::string& data) {
  std::string p = {1, 0, 0, static_cast<char>(kind)};
  const uint32_t n = static_cast<uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) p.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  return p + data;
}

struct BlobTable {
  FixtureTable table;
  std::string mb;
  std::string long_memo;
};

constexpr int kMemoRepeats = (1 << 20) / 5;

BlobTable MakeBlobTable() {
  BlobTable b;
  FixtureTable& t = b.table;
  t.fields = {{0x03, 2, "Id"},   {0x0C, 15, "Note"}, {0x0D, 10, "Data"},
              {0x10, 10, "Pic"}, {0x0F, 10, "Obj"},  {0x0E, 10, "Fmt"}};
  // Read a mebibyte at a time: NUL bytes across the first piece's end are
  // text, those at the end terminators.
  for (int i = 0; i < kMemoRepeats; ++i) b.long_memo += "caf\xe9 ";
  b.long_memo += std::string("\0\0\0end\0\0", 8);
  MbBuilder mb;
  const std::string small_memo = "line1\r\nline2, \"q\"";
  const std::string pic = Prefixed(1, "BMxy");
  const std::string obj = Prefixed(2, "ole");
  const std::vector<uint32_t> p =
      mb.AddSubAllocated({std::string("\x00\x01\x02", 3), pic, obj, "rich", small_memo, "zz"});
  const uint32_t big = mb.AddSingle(b.long_memo);
  t.records = {
      FlipInt(2, 1) + BlobRef(15, "hi", 0, 2, 0) + BlobRef(10, "", p[0], 3) +
          BlobRef(10, "", p[1], static_cast<uint32_t>(pic.size())) +
          BlobRef(10, "", p[2], static_cast<uint32_t>(obj.size())) + BlobRef(10, "", p[3], 4),
      FlipInt(2, 2) + BlobRef(15, b.long_memo, big, static_cast<uint32_t>(b.long_memo.size())) +
          Zeros(10) + Zeros(10) + BlobRef(10, "", p[5], 2) + Zeros(10),
      FlipInt(2, 3) + BlobRef(15, small_memo, p[4], static_cast<uint32_t>(small_memo.size())) +
          Zeros(40),
  };
  b.mb = mb.bytes();
  return b;
}

std::string Utf8Memo(int repeats) {
  std::string s;
  for (int i = 0; i < repeats; ++i) s += "café ";
  return s + std::string("\0\0\0end", 6);
}

TEST_F(ReaderFixtureTest, BlobsInTheRecordAndInBothMbBlockKinds) {
  BlobTable b = MakeBlobTable();
  const std::string path = Write(b.table);
  WriteFile(dir_ + "/FIXTURE.MB", b.mb);  // found whatever the case
  Result<std::vector<Row>> rows = ReadAll(path);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  const std::vector<Row> want = {
      {"1", "hi", "\\x000102", "\\x424d7879", "\\x6f6c65", "\\x72696368"},
      {"2", Utf8Memo(kMemoRepeats), kNull, kNull, "\\x7a7a", kNull},
      {"3", "line1\r\nline2, \"q\"", kNull, kNull, kNull, kNull},
  };
  EXPECT_EQ(*rows, want);
}

// The rows must not go without their memos unnoticed: the table fails at
// once, naming the file; asked to, each value that lives there comes as
// null (and is counted), the values held in their records as they are.
TEST_F(ReaderFixtureTest, MissingMbFailsTheTableOrGivesItsValuesAsNullWhenAsked) {
  BlobTable b = MakeBlobTable();
  b.table.records.insert(b.table.records.begin() + 1,
                         FlipInt(2, 9) + BlobRef(15, "tiny", 0, 4, 0) + Zeros(40));
  const std::string path = Write(b.table);
  Result<std::unique_ptr<TableReader>> failed = TableReader::Open(path);
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.status().message().find(dir_ + "/fixture.mb is missing"), std::string::npos)
      << failed.status().message();

  Result<std::unique_ptr<TableReader>> r = TableReader::Open(path, ReadOptions{true});
  ASSERT_TRUE(r.ok()) << r.status().message();
  std::vector<Row> rows;
  std::vector<Cell> cells;
  for (Result<bool> more = (*r)->Next(cells); more.ok() && *more; more = (*r)->Next(cells)) {
    Row row;
    for (const Cell& c : cells) row.push_back(c.null ? kNull : std::optional(c.text));
    rows.push_back(std::move(row));
  }
  const std::vector<Row> want = {
      {"1", "hi", kNull, kNull, kNull, kNull},
      {"9", "tiny", kNull, kNull, kNull, kNull},
      {"2", kNull, kNull, kNull, kNull, kNull},
      {"3", kNull, kNull, kNull, kNull, kNull},
  };
  EXPECT_EQ(rows, want);
  EXPECT_EQ((*r)->values_made_null(), 7u);
  EXPECT_FALSE((*r)->broken());
}

TEST_F(ReaderFixtureTest, EncryptedMbIsDecryptedToo) {
  BlobTable b = MakeBlobTable();
  b.table.encryption_key = 0x00C0FFEE;
  EncryptMbChunks(reinterpret_cast<unsigned char*>(b.mb.data()), b.mb.size(), 0x00C0FFEE);
  WriteFile(dir_ + "/fixture.mb", b.mb);
  Result<std::vector<Row>> rows = ReadAll(Write(b.table));
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  ASSERT_EQ(rows->size(), 3u);
  EXPECT_EQ((*rows)[1][1], Utf8Memo(kMemoRepeats));
  EXPECT_EQ((*rows)[2][1], "line1\r\nline2, \"q\"");
}

}  // namespace
}  // namespace corvane::paradox::testing
