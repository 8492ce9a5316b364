// Keyed tables and their primary index: what we write is read by pxlib
// (an independent implementation) with the index in use, every level-1
// entry points at the block holding its key, and our checker tells a good
// index from a damaged one.
#include "paradox/primary_index.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "paradox/field_encode.h"
#include "paradox/table_reader.h"
#include "paradox/table_writer.h"
#include "pxlib_index.h"
#include "writer_support.h"

namespace corvane::paradox {
namespace {

using testing::PxlibIndexProblem;
using testing::ReadWithIndex;
using testing::ReadWithOurReader;
using testing::ScratchFolder;
using testing::Text;

std::string KeyBytes(const FieldInfo& f, const std::string& text) {
  std::string out(static_cast<size_t>(f.size), '\0');
  EXPECT_TRUE(EncodeScalar(f, Text(text), 1252, reinterpret_cast<unsigned char*>(out.data())).ok());
  return out;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PrimaryIndexTest, KeyedTablesAreReadByPxlibThroughTheirIndex) {
  struct Case {
    const char* name;
    FieldInfo key;
    int filler;  // Alpha size of the non-key field: sets the rows per block
    int rows;
    int levels;
  };
  const Case cases[] = {
      {"empty", {"Id", FieldType::kLong, 0, 0}, 10, 0, 0},
      {"one block", {"Id", FieldType::kLong, 0, 0}, 10, 5, 1},
      {"text key", {"Code", FieldType::kAlpha, 12, 0}, 200, 300, 1},
      {"two levels", {"Id", FieldType::kLong, 0, 0}, 255, 3000, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    std::vector<FieldInfo> fields = {
        c.key, {"Pad", FieldType::kAlpha, c.filler, 0}, {"Pad2", FieldType::kAlpha, c.filler, 0}};
    auto w = TableWriter::Create(dir.File("KEYED.DB"), fields, 1252, 0, 1);
    ASSERT_TRUE(w.ok()) << w.status().message();
    std::vector<std::string> keys;
    for (int i = 0; i < c.rows; ++i) {
      char key[16];
      if (c.key.type == FieldType::kAlpha) {
        std::snprintf(key, sizeof key, "K%06d", i);
      } else {
        std::snprintf(key, sizeof key, "%d", i * 7 - 50);
      }
      keys.emplace_back(key);
      ASSERT_TRUE((*w)->Append({Text(key), Text("p" + std::to_string(i)), Text("q")}).ok());
    }
    ASSERT_TRUE((*w)->Finish(TableWriter::Replace::kNever).ok());
    const int per_block = ((*w)->block_size() - 6) / ((*w)->fields()[0].size + 2 * c.filler);

    auto ours = ReadWithOurReader(dir.File("KEYED.DB"));
    ASSERT_EQ(ours.error, "");
    EXPECT_EQ(ours.info.key_fields, 1);
    ASSERT_EQ(ours.rows.size(), keys.size());
    auto check = CheckPrimaryIndex(ours.info);
    ASSERT_TRUE(check.ok());
    EXPECT_EQ(check->file, "KEYED.PX");
    EXPECT_EQ(check->problem, "");
    EXPECT_EQ(check->levels, c.levels);

    if (c.rows == 0) continue;
    const FieldInfo key_field = (*w)->fields()[0];
    auto px = ReadWithIndex(dir.File("KEYED.DB"), dir.File("KEYED.PX"), key_field.size);
    ASSERT_EQ(px.error, "");
    EXPECT_EQ(static_cast<int>(px.record_keys.size()), c.rows);
    EXPECT_EQ(PxlibIndexProblem(dir.File("KEYED.DB"), dir.File("KEYED.PX"), key_field.size), "");
    ASSERT_EQ(px.entries.size(), static_cast<size_t>((c.rows + per_block - 1) / per_block));
    for (size_t b = 0; b < px.entries.size(); ++b) {
      // Block b+1 holds rows from b * per_block on; its entry carries the
      // first of them.
      EXPECT_EQ(px.entries[b].blocknumber, static_cast<int>(b + 1));
      const size_t first = b * static_cast<size_t>(per_block);
      EXPECT_EQ(px.keys[b], KeyBytes(key_field, keys[first])) << "block " << b + 1;
      EXPECT_EQ(ours.rows[first][0].text, keys[first]);
      const int expect_records =
          static_cast<int>(std::min<size_t>(static_cast<size_t>(per_block), keys.size() - first));
      EXPECT_EQ(px.entries[b].numrecords, expect_records);
    }
  }
}

TEST(PrimaryIndexTest, RowsOutOfKeyOrderOrWithBlankKeysAreRefused) {
  ScratchFolder dir;
  // Text keys go in byte order, which only the 'ascii' drivers keep.
  for (int cp : {1251, 850}) {
    EXPECT_FALSE(
        TableWriter::Create(dir.File("t.db"), {{"B", FieldType::kAlpha, 5, 0}}, cp, 0, 1).ok());
  }
  EXPECT_TRUE(dir.Entries().empty());
  auto w = TableWriter::Create(dir.File("k.db"),
                               {{"A", FieldType::kShort, 0, 0},
                                {"B", FieldType::kAlpha, 5, 0},
                                {"C", FieldType::kNumber, 0, 0}},
                               1252, 0, 2);
  ASSERT_TRUE(w.ok()) << w.status().message();
  EXPECT_TRUE((*w)->Append({Text("1"), Text("b"), Text("1.5")}).ok());
  EXPECT_TRUE((*w)->Append({Text("1"), Text("c"), Text("2")}).ok());
  EXPECT_FALSE((*w)->Append({Text("1"), Text("c"), Text("3")}).ok());      // duplicate
  EXPECT_FALSE((*w)->Append({Text("1"), Text("a"), Text("3")}).ok());      // below
  EXPECT_FALSE((*w)->Append({Text("2"), Text(""), Text("3")}).ok());       // blank
  EXPECT_FALSE((*w)->Append({Text("-1000"), Text("a"), Text("3")}).ok());  // below
  EXPECT_TRUE((*w)->Append({Text("2"), Text("a"), Text("")}).ok());
  ASSERT_TRUE((*w)->Finish(TableWriter::Replace::kNever).ok());
  auto ours = ReadWithOurReader(dir.File("k.db"));
  ASSERT_EQ(ours.rows.size(), 3u);
  EXPECT_EQ(ours.info.key_fields, 2);
  EXPECT_EQ(CheckPrimaryIndex(ours.info)->problem, "");

  EXPECT_FALSE(TableWriter::Create(dir.File("m.db"),
                                   {{"M", FieldType::kMemo, 20, 0}, {"B", FieldType::kLong, 0, 0}},
                                   1252, 0, 1)
                   .ok());
}

TEST(PrimaryIndexTest, TheCheckerFindsAnIndexThatNoLongerFits) {
  ScratchFolder dir;
  auto w = TableWriter::Create(dir.File("t.db"),
                               {{"Id", FieldType::kLong, 0, 0}, {"P", FieldType::kAlpha, 250, 0}},
                               1252, 0, 1);
  ASSERT_TRUE(w.ok());
  for (int i = 1; i <= 40; ++i)
    ASSERT_TRUE((*w)->Append({Text(std::to_string(i)), Text("x")}).ok());
  ASSERT_TRUE((*w)->Finish(TableWriter::Replace::kNever).ok());
  const std::string good = Slurp(dir.File("t.px"));
  auto info = ReadWithOurReader(dir.File("t.db")).info;
  ASSERT_EQ(CheckPrimaryIndex(info)->problem, "");

  struct Damage {
    const char* what;
    size_t at;  // byte of the first entry of block 1 (after the 2048 header)
    const char* expect;
  };
  const Damage damages[] = {
      {"key", 2048 + 6 + 3, "first key"},
      {"block", 2048 + 6 + 4 + 1, "out of the table's block order"},
      {"count", 2048 + 6 + 6 + 1, "counts"},
      {"file type", 4, "not a primary index"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string bad = good;
    bad[d.at] = static_cast<char>(bad[d.at] ^ 0x01);
    std::ofstream(dir.File("t.px"), std::ios::binary) << bad;
    auto check = CheckPrimaryIndex(info);
    ASSERT_TRUE(check.ok());
    EXPECT_NE(check->problem.find(d.expect), std::string::npos) << check->problem;
  }
  std::remove(dir.File("t.px").c_str());
  EXPECT_EQ(CheckPrimaryIndex(info)->problem, "there is no .px file");
}

// The index is the last file written: when it cannot be (here no file
// descriptor is left, as with a full disk) nothing is published, and a
// process killed before Finish leaves no table either.
TEST(PrimaryIndexTest, AKeyedWriteThatCannotWriteItsIndexLeavesNoTable) {
  ScratchFolder dir;
  for (bool kill : {false, true}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto w = TableWriter::Create(dir.File("k.db"), {{"Id", FieldType::kLong, 0, 0}}, 1252, 0, 1);
      if (!w.ok()) _exit(10);
      for (int i = 1; i <= 5000; ++i) {
        if (!(*w)->Append({Text(std::to_string(i))}).ok()) _exit(11);
      }
      if (kill) _exit(0);  // no destructors, no Finish
      const int free_fd = dup(0);
      close(free_fd);
      rlimit limit{static_cast<rlim_t>(free_fd), static_cast<rlim_t>(free_fd)};
      setrlimit(RLIMIT_NOFILE, &limit);
      Status finished = (*w)->Finish(TableWriter::Replace::kNever);
      _exit(finished.ok() ? 12 : 0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (!kill) {
      EXPECT_TRUE(dir.Entries().empty());  // the scratch files went too
    }
    for (const std::string& name : dir.Entries()) {
      EXPECT_EQ(name.rfind(".corvane-", 0), 0u) << name;  // scratch only, never a table
      std::remove(dir.File(name).c_str());
    }
  }
}

}  // namespace
}  // namespace corvane::paradox
