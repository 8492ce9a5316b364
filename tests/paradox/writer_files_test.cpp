// Where the writer's files end up: never over a table it may not replace,
// never half written under the real name; and the header against pxlib's.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "paradox/companion_files.h"
#include "paradox/table_writer.h"
#include "writer_support.h"

namespace corvane::paradox {
namespace {

using testing::ReadWithOurReader;
using testing::ReadWithPxlib;
using testing::ScratchFolder;
using testing::Text;
using Replace = TableWriter::Replace;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
unsigned Le16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}
unsigned Le32(const std::string& s, size_t at) { return Le16(s, at) | Le16(s, at + 2) << 16; }

const std::vector<FieldInfo> kFields = {{"Id", FieldType::kLong, 0, 0},
                                        {"Name", FieldType::kAlpha, 30, 0}};

std::unique_ptr<TableWriter> Started(const std::string& path, int rows,
                                     std::vector<FieldInfo> fields = kFields) {
  auto w = TableWriter::Create(path, fields);
  EXPECT_TRUE(w.ok()) << w.status().message();
  for (int i = 0; i < rows; ++i) {
    EXPECT_TRUE(w.value()
                    ->Append({Text(std::to_string(i + 1)), Text("row " + std::to_string(i + 1))})
                    .ok());
  }
  return std::move(w.value());
}

TEST(TableWriterFilesTest, NeverReplaceLeavesAnyExistingTableIntact) {
  for (const char* existing :
       {"CUSTOMER.DB", "customer.db", "Customer.PX", "CUSTOMER.VAL", "customer.mb"}) {
    ScratchFolder dir;
    Put(dir.File(existing), "old bytes");
    auto w = Started(dir.File("customer.db"), 3);
    Status st = w->Finish(Replace::kNever);
    ASSERT_FALSE(st.ok()) << existing;
    EXPECT_NE(st.message().find(existing), std::string::npos) << st.message();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{existing});  // no temporary file left
    EXPECT_EQ(Slurp(dir.File(existing)), "old bytes");
  }
}

TEST(TableWriterFilesTest, ReplacingRemovesTheOldTableWithAllItsCompanions) {
  ScratchFolder dir;
  for (const char* f : {"CUSTOMER.DB", "CUSTOMER.MB", "CUSTOMER.PX", "CUSTOMER.X02", "CUSTOMER.Y02",
                        "customer.val", "CUSTOMER.TV", "CUSTOMER.TXT", "ORDERS.DB"}) {
    Put(dir.File(f), "old");
  }
  auto w = Started(dir.File("customer.db"), 2);
  ASSERT_TRUE(w->Finish(Replace::kAllowed).ok());
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"CUSTOMER.TXT", "ORDERS.DB", "customer.db"}));
  // Readable like any file the user makes (the scratch file starts as 0600).
  const mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat(dir.File("customer.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  auto back = ReadWithOurReader(dir.File("customer.db"));
  ASSERT_EQ(back.rows.size(), 2u);
  EXPECT_EQ(back.rows[1][1].text, "row 2");

  // Replacing a table that has blobs with one that has blobs keeps one .mb.
  std::vector<FieldInfo> memo = {{"M", FieldType::kMemo, 11, 0}};
  for (int round = 0; round < 2; ++round) {
    auto m = TableWriter::Create(dir.File("notes.db"), memo);
    ASSERT_TRUE(m.ok());
    ASSERT_TRUE(m.value()->Append({Text(std::string(100, static_cast<char>('a' + round)))}).ok());
    ASSERT_TRUE(m.value()->Finish(Replace::kAllowed).ok());
  }
  EXPECT_EQ(TableFiles(dir.path(), "notes").size(), 2u);
  EXPECT_EQ(ReadWithOurReader(dir.File("notes.db")).rows.at(0).at(0).text, std::string(100, 'b'));
}

TEST(TableWriterFilesTest, AbandonedOrInterruptedWritesLeaveNoTable) {
  ScratchFolder dir;
  { auto w = Started(dir.File("gone.db"), 500); }  // destroyed without Finish
  {
    auto w = Started(dir.File("gone.db"), 5);
    w->Abandon();
    EXPECT_FALSE(w->Finish(Replace::kAllowed).ok());
    EXPECT_FALSE(w->Append({Text("1"), Text("x")}).ok());
  }
  EXPECT_TRUE(dir.Entries().empty());

  // A process that dies mid-write leaves only a hidden scratch file that no
  // table listing takes for a table.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto w = TableWriter::Create(dir.File("crash.db"), {{"M", FieldType::kMemo, 11, 0}});
    for (int i = 0; w.ok() && i < 20000; ++i)
      (void)w.value()->Append({Text(std::string(300, 'x'))});
    _exit(0);  // no destructors, no Finish: as if killed
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(TableFiles(dir.path(), "crash").empty());
  EXPECT_FALSE(FindTableFile(dir.path(), "crash").has_value());
  for (const std::string& name : dir.Entries()) EXPECT_EQ(name.rfind(".corvane-", 0), 0u) << name;
}

// Writing fails part way (here: a file size limit, as a full disk would):
// the error is final, names the table, and no table appears.
TEST(TableWriterFilesTest, AFailedWriteIsFinalAndLeavesNoTable) {
  ScratchFolder dir;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto w = TableWriter::Create(dir.File("full.db"), kFields);
    if (!w.ok()) _exit(10);
    Status first;
    for (int i = 0; i < 10000 && first.ok(); ++i) {
      first = w.value()->Append({Text(std::to_string(i)), Text("some text")});
    }
    if (first.ok() || first.code() == Status::Code::kInvalidArgument) _exit(11);
    if (first.message().find("full.db") == std::string::npos) _exit(12);
    if (w.value()->Append({Text("1"), Text("x")}).message() != first.message()) _exit(13);
    if (w.value()->Finish(Replace::kAllowed).ok()) _exit(14);
    _exit(0);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(TableWriterFilesTest, EmptyOneRowAndLargeTablesHaveConsistentHeaders) {
  ScratchFolder dir;
  for (int rows : {0, 1, 100000}) {
    const std::string path = dir.File("t" + std::to_string(rows) + ".db");
    ASSERT_TRUE(Started(path, rows)->Finish(Replace::kNever).ok());
    const std::string f = Slurp(path);
    const unsigned record = 34, per_block = (2048 - 6) / record;
    const unsigned blocks = (rows + per_block - 1) / per_block;
    EXPECT_EQ(Le16(f, 0x00), record);
    EXPECT_EQ(f[0x05], 2);
    EXPECT_EQ(Le32(f, 0x06), static_cast<unsigned>(rows));
    EXPECT_EQ(Le16(f, 0x0A), blocks);
    EXPECT_EQ(Le16(f, 0x0C), blocks);
    EXPECT_EQ(Le16(f, 0x0E), rows ? 1u : 0u);
    EXPECT_EQ(Le16(f, 0x10), blocks);
    EXPECT_EQ(Le16(f, 0x3A), blocks);
    EXPECT_EQ(f.size(), 2048u + blocks * 2048u);
    if (blocks > 0) {  // the last block: no next, previous is the one before, its fill
      const size_t last = 2048 + (blocks - 1) * 2048u;
      EXPECT_EQ(Le16(f, last), 0u);
      EXPECT_EQ(Le16(f, last + 2), blocks - 1);
      EXPECT_EQ(Le16(f, last + 4), (rows - (blocks - 1) * per_block - 1) * record);
    }
    auto ours = ReadWithOurReader(path);
    auto px = ReadWithPxlib(path);
    ASSERT_EQ(ours.error, "");
    ASSERT_EQ(px.error, "");
    ASSERT_EQ(ours.rows.size(), static_cast<size_t>(rows));
    ASSERT_EQ(px.rows.size(), static_cast<size_t>(rows));
    for (size_t r = 0; r < ours.rows.size(); r += 997) {
      EXPECT_EQ(ours.rows[r][0].text, std::to_string(r + 1));
      EXPECT_EQ(px.rows[r][1].text, "row " + std::to_string(r + 1));
    }
    if (rows > 0) {
      EXPECT_EQ(ours.rows.back()[1].text, "row " + std::to_string(rows));
    }
  }
}

TEST(TableWriterFilesTest, ManyRowsOfWideRecordsGetLargerBlocks) {
  ScratchFolder dir;
  std::vector<FieldInfo> wide = {{"A", FieldType::kAlpha, 255, 0},
                                 {"B", FieldType::kAlpha, 255, 0},
                                 {"C", FieldType::kAlpha, 255, 0},
                                 {"D", FieldType::kAlpha, 255, 0}};
  // 1020-byte records: 2 a block of 2 KiB, so 65535 blocks hold 131070 rows.
  auto small = TableWriter::Create(dir.File("w.db"), wide, 1252, 100000);
  ASSERT_TRUE(small.ok());
  EXPECT_EQ(small.value()->block_size(), 2048);
  auto big = TableWriter::Create(dir.File("w.db"), wide, 1252, 200000);
  ASSERT_TRUE(big.ok());
  EXPECT_EQ(big.value()->block_size(), 4096);
  EXPECT_FALSE(TableWriter::Create(dir.File("w.db"), wide, 1252, 3000000000ull).ok());
  // 129 fields of 255 bytes: wider than the largest block.
  std::vector<FieldInfo> too_wide;
  for (int i = 0; i < 129; ++i)
    too_wide.push_back({"F" + std::to_string(i), FieldType::kAlpha, 255, 0});
  auto refused = TableWriter::Create(dir.File("w.db"), too_wide);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.status().message().find("wider"), std::string::npos)
      << refused.status().message();
  small.value()->Abandon();
  big.value()->Abandon();
  EXPECT_TRUE(dir.Entries().empty());
}

// Header fields that do not depend on the table level agree with pxlib's
// for the same fields (pxlib makes level-7 files: its name area is longer).
TEST(TableWriterFilesTest, HeaderAgreesWithPxlibForTheSameFields) {
  ScratchFolder dir;
  std::vector<FieldInfo> fields = {
      {"Name", FieldType::kAlpha, 20, 0},  {"Small", FieldType::kShort, 2, 0},
      {"Count", FieldType::kLong, 4, 0},   {"Ratio", FieldType::kNumber, 8, 0},
      {"Price", FieldType::kMoney, 8, 0},  {"Day", FieldType::kDate, 4, 0},
      {"At", FieldType::kTime, 4, 0},      {"Stamp", FieldType::kTimestamp, 8, 0},
      {"Flag", FieldType::kLogical, 1, 0}, {"Serial", FieldType::kAutoIncrement, 4, 0}};
  ASSERT_EQ(testing::CreateWithPxlib(dir.File("px.db"), fields), "");
  ASSERT_TRUE(Started(dir.File("ours.db"), 0, fields)->Finish(Replace::kNever).ok());
  const std::string px = Slurp(dir.File("px.db")), ours = Slurp(dir.File("ours.db"));
  for (int at : {0x00, 0x02, 0x04, 0x05, 0x06, 0x0A, 0x0C, 0x0E, 0x10, 0x21, 0x23,
                 0x25, 0x27, 0x29, 0x2D, 0x2E, 0x3E, 0x56, 0x64, 0x6A, 0x6C}) {
    EXPECT_EQ(Le16(ours, at), Le16(px, at)) << "offset 0x" << std::hex << at;
  }
  const size_t n = fields.size();
  EXPECT_EQ(ours.substr(0x78, 2 * n), px.substr(0x78, 2 * n));  // field descriptors
  // Field numbers and sort order name, found the way readers find them.
  auto tail = [](const std::string& h) {
    return h.substr(0x58 + Le16(h, 0x66), Le16(h, 0x6E) - Le16(h, 0x66) + 9);
  };
  EXPECT_EQ(tail(ours), tail(px));
  EXPECT_EQ(Le16(ours, 0x51), 0x58 + Le16(ours, 0x6E) + 9u);  // just past "ANSIINTL\0"
  // pxlib reads our header as it reads its own.
  auto back = ReadWithPxlib(dir.File("ours.db"));
  ASSERT_EQ(back.error, "");
  ASSERT_EQ(back.fields.size(), n);
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(back.fields[i].name, fields[i].name);
}

}  // namespace
}  // namespace corvane::paradox
