// A folder of Paradox tables opened through the Paradox connection string:
// tables written by pxlib and by hand-built fixtures, read as record sets;
// DROP TABLE with companions; everything else refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "connection/connection.h"
#include "connection/connection_strings.h"
#include "paradox/fixture_builder.h"
#include "paradox/pxlib_maker.h"
#include "support/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using paradox::testing::PxlibTable;

class ParadoxFolderDriverTest : public ::testing::Test {
 protected:

  std::unique_ptr<Connection> Open() {
    auto c = std::make_unique<Connection>();
    ConnectionSettings s;
    s.paradox_folder = dir_;
    Status st = c->Open(ParadoxConnectionString(s));
    EXPECT_TRUE(st.ok()) << st.message();
    return c;
  }
  void Touch(const std::string& name) { std::ofstream(dir_ + "/" + name) << "x"; }
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  static PxlibTable Orders(int rows) {
    PxlibTable t;
    t.Field("Name", 0x01, 20)
        .Field("Day", 0x02, 4)
        .Field("Small", 0x03, 2)
        .Field("Big", 0x04, 4)
        .Field("Pay", 0x05, 8)
        .Field("Ratio", 0x06, 8)
        .Field("Ok", 0x09, 1)
        .Field("At", 0x14, 4)
        .Field("Stamp", 0x15, 8)
        .Field("Id", 0x16, 4)
        .Field("Raw", 0x18, 2);
    t.Row({std::string("Zoë \"Q\""), 728783L, -1L, 100000L, -12.34, 0.1, 1L, 37800000L,
           63716202001000.0, 1L, std::string("\x01\x02")});
    t.Row({{}, {}, {}, {}, {}, {}, {}, {}, {}, 2L, {}});
    for (long i = 3; i <= rows; ++i) {
      t.Row({std::string("r") + std::to_string(i), {}, {}, i, {}, {}, {}, {}, {}, i, {}});
    }
    return t;
  }

  ::corvane::testing::TempFolder temp_{"corvane-reader-pxfolder"};
  std::string dir_ = temp_.str();
};

TEST_F(ParadoxFolderDriverTest, OpeningNeedsAnExistingFolder) {
  ConnectionSettings s;
  s.paradox_folder = dir_ + "/absent";
  Connection c;
  Status st = c.Open(ParadoxConnectionString(s));
  EXPECT_EQ(st.code(), Status::Code::kNotFound);
  EXPECT_NE(st.message().find(s.paradox_folder), std::string::npos) << st.message();
  Touch("file.db");
  s.paradox_folder = dir_ + "/file.db";  // a file is no folder
  EXPECT_FALSE(Connection().Open(ParadoxConnectionString(s)).ok());
  s.paradox_folder.clear();
  EXPECT_FALSE(Connection().Open(ParadoxConnectionString(s)).ok());
}

TEST_F(ParadoxFolderDriverTest, SelectReadsAPxlibTableFoundInAnyCase) {
  ASSERT_EQ(Orders(2).Write(dir_ + "/Orders.DB"), "");
  auto c = Open();
  for (const char* sql : {"SELECT * FROM \"ORDERS\"", "select * from orders;"}) {
    auto r = c->Execute(sql);
    ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
    RecordSet& rs = *r.value();
    EXPECT_EQ(rs.RecordCount(), 2);
    const std::vector<int> codes = {200, 133, 2, 3, 6, 5, 11, 134, 135, 3, 128};
    ASSERT_EQ(rs.FieldCount(), static_cast<int>(codes.size()));
    for (int i = 0; i < rs.FieldCount(); ++i) EXPECT_EQ(rs.FieldType(i), codes[i]) << i;
    EXPECT_EQ(rs.FieldName(0), "Name");
    const std::vector<std::string> first = {
        "Zoë \"Q\"", "1996-05-04",          "-1", "100000", "-12.34", "0.1", "True",
        "10:30:00",  "2020-02-01 01:00:01", "1",  "\\x0102"};
    for (int i = 0; i < rs.FieldCount(); ++i) EXPECT_EQ(rs.FieldValue(i).text(), first[i]) << i;
    ASSERT_TRUE(rs.MoveNext().ok());
    EXPECT_TRUE(rs.FieldValue(0).is_null());
    EXPECT_EQ(rs.FieldValue(9).text(), "2");
    ASSERT_TRUE(rs.MoveNext().ok());
    EXPECT_TRUE(rs.Eof());
    EXPECT_FALSE(rs.MoveNext().ok());
  }
}

TEST_F(ParadoxFolderDriverTest, ManyRowsStreamToTheLast) {
  ASSERT_EQ(Orders(5000).Write(dir_ + "/big.db"), "");
  auto r = Open()->Execute("SELECT * FROM \"BIG\"");
  ASSERT_TRUE(r.ok()) << r.status().message();
  RecordSet& rs = *r.value();
  ASSERT_EQ(rs.RecordCount(), 5000);
  int64_t seen = 0;
  long id_sum = 0;
  for (; !rs.Eof(); ++seen) {
    id_sum += std::atol(rs.FieldValue(9).text().c_str());
    ASSERT_TRUE(rs.MoveNext().ok());
  }
  EXPECT_EQ(seen, 5000);
  EXPECT_EQ(id_sum, 5000L * 5001 / 2);
}

// Blob kinds by their codes, and a record whose blob cannot be read: the
// row stands with nulls and its error, and the next row comes after it.
TEST_F(ParadoxFolderDriverTest, BlobTypesAndARowThatCannotBeRead) {
  using namespace paradox::testing;
  FixtureTable t;
  t.fields = {{0x03, 2, "Id"},   {0x0C, 15, "Note"}, {0x0E, 10, "Fmt"}, {0x0D, 10, "Bin"},
              {0x0F, 10, "Ole"}, {0x10, 10, "Pic"},  {0x17, 2, "Amt"}};
  t.records = {
      FlipInt(2, 1) + BlobRef(15, "short", 0, 5, 0) + Zeros(40) + Bcd(2, "40.00"),
      FlipInt(2, 2) + BlobRef(15, "needs the mb", 0x1000 | 0xFF, 500) + Zeros(40) + Bcd(2, "1.50"),
      FlipInt(2, 3) + Zeros(55) + Bcd(2, "-0.25"),
  };
  WriteFile(dir_ + "/blobs.db", BuildDb(t));
  WriteFile(dir_ + "/blobs.mb", MbBuilder().bytes());  // its header block only
  auto r = Open()->Execute("SELECT * FROM \"blobs\"");
  ASSERT_TRUE(r.ok()) << r.status().message();
  RecordSet& rs = *r.value();
  const std::vector<int> codes = {2, 201, 205, 205, 205, 205, 131};
  for (int i = 0; i < rs.FieldCount(); ++i) EXPECT_EQ(rs.FieldType(i), codes[i]) << i;
  EXPECT_TRUE(rs.CurrentRowStatus().ok());
  EXPECT_EQ(rs.FieldValue(1).text(), "short");
  EXPECT_EQ(rs.FieldValue(6).text(), "40.00");
  Status moved = rs.MoveNext();
  EXPECT_FALSE(moved.ok());
  EXPECT_EQ(rs.CurrentRowStatus().message(), moved.message());
  EXPECT_FALSE(rs.Eof());
  EXPECT_TRUE(rs.FieldValue(0).is_null());
  ASSERT_TRUE(rs.MoveNext().ok());
  EXPECT_EQ(rs.FieldValue(0).text(), "3");
  EXPECT_EQ(rs.FieldValue(6).text(), "-0.25");
  ASSERT_TRUE(rs.MoveNext().ok());
  EXPECT_TRUE(rs.Eof());
}

TEST_F(ParadoxFolderDriverTest, MissingTableIsAClearError) {
  auto c = Open();
  auto r = c->Execute("SELECT * FROM \"Nowhere\"");
  EXPECT_EQ(r.status().code(), Status::Code::kNotFound);
  EXPECT_NE(r.status().message().find("Nowhere"), std::string::npos) << r.status().message();
  // A name is a name in this folder, never a path out of it.
  fs::create_directories(dir_ + "/inner");
  ASSERT_EQ(Orders(2).Write(dir_ + "/outside.db"), "");
  ConnectionSettings s;
  s.paradox_folder = dir_ + "/inner";
  Connection inner;
  ASSERT_TRUE(inner.Open(ParadoxConnectionString(s)).ok());
  EXPECT_EQ(inner.Execute("SELECT * FROM \"../outside\"").status().code(), Status::Code::kNotFound);
  EXPECT_FALSE(inner.Execute("DROP TABLE `../outside`").ok());
  EXPECT_TRUE(fs::exists(dir_ + "/outside.db"));
}

TEST_F(ParadoxFolderDriverTest, DropRemovesTheTableWithItsCompanionsReadOnlyToo) {
  ASSERT_EQ(Orders(2).Write(dir_ + "/CUST.DB"), "");
  for (const char* f : {"cust.mb", "CUST.PX", "CUST.X02", "CUST.Y02", "Cust.VAL", "CUST.TV",
                        "CUST.FRM", "CUSTOMER.DB", "CUSTOMER.PX"}) {
    Touch(f);
  }
  fs::permissions(dir_ + "/CUST.DB", fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(dir_ + "/CUST.PX", fs::perms::owner_read);
  auto c = Open();
  auto r = c->Execute("DROP TABLE `cust`");
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r.value()->RecordCount(), 0);
  // Forms and other tables are no part of the table.
  EXPECT_EQ(Files(), (std::vector<std::string>{"CUST.FRM", "CUSTOMER.DB", "CUSTOMER.PX"}));
  auto again = c->Execute("DROP TABLE `CUST`");
  EXPECT_EQ(again.status().code(), Status::Code::kNotFound);
}

TEST_F(ParadoxFolderDriverTest, EveryOtherStatementIsRefusedAndChangesNothing) {
  ASSERT_EQ(Orders(2).Write(dir_ + "/keep.db"), "");
  Touch("keep.px");
  auto c = Open();
  for (const char* sql :
       {"DELETE FROM keep", "SELECT Name FROM \"keep\"", "DROP TABLE `keep`; SELECT 1",
        "SELECT * FROM \"keep\"; DROP TABLE `keep`", "ALTER TABLE keep RENAME TO x", ""}) {
    auto r = c->Execute(sql);
    EXPECT_EQ(r.status().code(), Status::Code::kNotSupported) << sql;
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"keep.db", "keep.px"}));
}

// Real tables from other programs, when a folder of them is named: each
// opens or says why not, and reading stops by the count its header gives.
TEST(ParadoxFolderDriverSamples, NoTableYieldsMoreRowsThanItsHeaderCounts) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (!root) GTEST_SKIP() << "set CORVANE_PARADOX_SAMPLES to a folder of real tables";
  int tables = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_directory()) continue;
    Connection c;
    ConnectionSettings s;
    s.paradox_folder = e.path().string();
    ASSERT_TRUE(c.Open(ParadoxConnectionString(s)).ok());
    for (const auto& f : fs::directory_iterator(e.path())) {
      std::string ext = f.path().extension().string();
      if (ext != ".db" && ext != ".DB") continue;
      auto r = c.Execute("SELECT * FROM \"" + f.path().stem().string() + "\"");
      if (!r.ok()) continue;  // encrypted or damaged: said, not read
      RecordSet& rs = *r.value();
      int64_t rows = 0;
      while (!rs.Eof() && rows <= rs.RecordCount()) {
        ++rows;
        (void)rs.MoveNext();
      }
      EXPECT_LE(rows, rs.RecordCount()) << f.path();
      ++tables;
    }
  }
  EXPECT_GT(tables, 0);
}

}  // namespace
}  // namespace corvane
