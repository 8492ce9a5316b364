// Damaged and hostile files: each gives an error naming the file and what is
// wrong, and nothing reads outside the files, loops or allocates without
// bound. A seeded mutation run checks the same over thousands of variants.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include <sys/stat.h>

#include "paradox/fixture_builder.h"
#include "support/temp_folder.h"
#include "paradox/read_all.h"

namespace corvane::paradox::testing {
namespace {

FixtureTable SmallTable(int rows, int per_block = 0) {
  FixtureTable t;
  t.block_kib = 1;
  t.per_block = per_block;
  t.fields = {{0x01, 6, "Name"}, {0x04, 4, "N"}, {0x14, 4, "At"}};
  for (int i = 0; i < rows; ++i) {
    t.records.push_back(Alpha(6, "r" + std::to_string(i)) + FlipInt(4, i) + FlipInt(4, 1000 * i));
  }
  return t;
}

size_t HeaderSize(const std::string& db) {
  return static_cast<unsigned char>(db[2]) | (static_cast<unsigned char>(db[3]) << 8);
}
void Set16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

class ReaderMalformedTest : public ::testing::Test {
 protected:
  // The first error from opening and reading `db` (and `mb` if given).
  std::string FirstError(const std::string& db, const std::string* mb = nullptr) {
    path_ = dir_ + "/bad.db";
    WriteFile(path_, db);
    if (mb) WriteFile(dir_ + "/bad.mb", *mb);
    Result<std::vector<Row>> rows = ReadAll(path_);
    if (rows.ok()) return "no error";
    EXPECT_EQ(rows.status().message().rfind(path_, 0), 0u) << rows.status().message();
    return rows.status().message();
  }
  ::corvane::testing::TempFolder temp_{"corvane-reader-malformed"};
  std::string dir_ = temp_.str();
  std::string path_;
};

#define EXPECT_ERROR_HAS(error, text) \
  EXPECT_NE((error).find(text), std::string::npos) << "error was: " << (error)

TEST_F(ReaderMalformedTest, HeadersThatAreNotTablesOrLie) {
  const std::string good = BuildDb(SmallTable(3));
  struct Case {
    std::function<void(std::string&)> damage;
    const char* expected;
  };
  const Case cases[] = {
      {[](std::string& b) { b.clear(); }, "too short"},
      {[](std::string& b) { b.resize(40); }, "too short"},
      {[](std::string& b) { b[0x39] = 0x20; }, "not a Paradox table (version byte 0x20)"},
      {[](std::string& b) { b[0x04] = 1; }, "index or other file"},
      {[](std::string& b) { b[0x78] = 0x07; }, "unknown type code 0x07"},
      {[](std::string& b) { b[0x78 + 3] = 3; }, "Long integer) has size 3"},
      {[](std::string& b) { Set16(b, 0, 4000); }, "does not fit its blocks"},
      {[](std::string& b) { Set16(b, 0, 15); }, "the fields take 14 bytes but a record has 15"},
      {[](std::string& b) { Set16(b, 2, 0xF000); }, "shorter than its header"},
      {[](std::string& b) { b[0x05] = 0; }, "block size byte 0"},
      {[](std::string& b) { Set16(b, 0x21, 0); }, "gives 0 fields"},
      {[](std::string& b) { Set16(b, 0x21, 200); }, "field 4 has the unknown type code 0x00"},
  };
  for (const Case& c : cases) {
    std::string db = good;
    c.damage(db);
    const std::string error = FirstError(db);
    EXPECT_ERROR_HAS(error, c.expected);
  }
}

TEST_F(ReaderMalformedTest, BlockChainsThatLoopLeaveTheFileOrOverfill) {
  const std::string good = BuildDb(SmallTable(30, 10));
  const size_t h = HeaderSize(good);
  struct Case {
    std::function<void(std::string&)> damage;
    const char* expected;
  };
  const Case cases[] = {
      {[h](std::string& b) { Set16(b, h + 2 * 1024, 1); }, "loops back to block 1"},
      {[h](std::string& b) { Set16(b, h + 1024, 500); }, "block 500 lies past the end"},
      {[h](std::string& b) { Set16(b, h + 4, 2000); }, "block 1 claims more records"},
      {[h](std::string& b) { Set16(b, h + 4, 15); }, "block 1 claims more records"},
      {[h](std::string& b) { b.resize(h + 2 * 1024 + 6 + 50); }, "block 3 is cut short"},
      {[](std::string& b) { Set16(b, 0x0E, 9); }, "block 9 lies past the end"},
  };
  for (const Case& c : cases) {
    std::string db = good;
    c.damage(db);
    const std::string error = FirstError(db);
    EXPECT_ERROR_HAS(error, c.expected);
  }
}

TEST_F(ReaderMalformedTest, ValuesTheFieldCannotHold) {
  FixtureTable t = SmallTable(1);
  t.records[0] = Alpha(6, "x") + FlipInt(4, 1) + FlipInt(4, 86400000);
  EXPECT_ERROR_HAS(FirstError(BuildDb(t)), "record 1, field \"At\": time value 86400000");
}

TEST_F(ReaderMalformedTest, BlobReferencesThatDoNotMatchTheMbFile) {
  MbBuilder mb;
  const std::vector<uint32_t> slots = mb.AddSubAllocated({"twelve bytes"});
  const uint32_t single = mb.AddSingle(std::string(3000, 'z'));
  std::string mb_bytes = mb.bytes();
  struct Case {
    uint32_t pointer;
    uint32_t length;
    const char* expected;
  };
  const Case cases[] = {
      {0x00000001, 12, "no block at offset 0"},
      {0x00100000 | 63, 12, "no block at offset 1048576"},
      {slots[0], 13, "holds a blob of 12 bytes in slot 63"},
      {(slots[0] & ~0xFFu) | 5, 12, "holds no blob in slot 5"},
      {(slots[0] & ~0xFFu) | 200, 12, "slot 200 of a shared block"},
      {single & ~0xFFu, 3000, "slot 0 of a single-blob block"},
      {single, 2999, "holds a blob of 3000 bytes"},
  };
  for (const Case& c : cases) {
    FixtureTable t;
    t.fields = {{0x0C, 11, "Memo"}};
    t.records = {BlobRef(11, "t", c.pointer, c.length)};
    const std::string error = FirstError(BuildDb(t), &mb_bytes);
    EXPECT_ERROR_HAS(error, "record 1, field \"Memo\"");
    EXPECT_ERROR_HAS(error, c.expected);
  }
  FixtureTable inline_too_long;
  inline_too_long.fields = {{0x0C, 11, "Memo"}};
  inline_too_long.records = {BlobRef(11, "t", 0, 5)};
  EXPECT_ERROR_HAS(FirstError(BuildDb(inline_too_long)), "5 bytes is marked as held in its 1-byte");
  std::string cut = mb_bytes.substr(0, 2 * 4096 + 100);
  FixtureTable t;
  t.fields = {{0x0C, 11, "Memo"}};
  t.records = {BlobRef(11, "t", single, 3000)};
  EXPECT_ERROR_HAS(FirstError(BuildDb(t), &cut), "lies past its end");
}

// --- bounded mutation run ---------------------------------------------------

struct Seed {
  std::string db;
  std::string mb;
};

std::vector<Seed> MutationSeeds() {
  std::vector<Seed> seeds;
  seeds.push_back({BuildDb(SmallTable(40, 7)), {}});
  FixtureTable encrypted = SmallTable(20, 9);
  encrypted.encryption_key = 0xBEEF;
  seeds.push_back({BuildDb(encrypted), {}});
  FixtureTable old = SmallTable(5);
  old.version = 3;
  old.fields[1].type = 0x03;
  old.fields[1].size_byte = 2;
  old.fields[2] = {0x06, 8, "D"};
  for (std::string& r : old.records) r = r.substr(0, 6) + FlipInt(2, 7) + FlipDouble(0.25);
  seeds.push_back({BuildDb(old), {}});
  MbBuilder mb;
  const std::vector<uint32_t> p = mb.AddSubAllocated({"abc", std::string(40, 'q')});
  const uint32_t big = mb.AddSingle(std::string(5000, 'b'));
  FixtureTable blobs;
  blobs.fields = {{0x0C, 12, "M"}, {0x10, 10, "G"}, {0x17, 2, "B"}, {0x15, 8, "T"}};
  blobs.records = {
      BlobRef(12, "ab", p[0], 3) + BlobRef(10, "", big, 5000) + Bcd(2, "1.5") + FlipDouble(6.3e13),
      BlobRef(12, "qq", p[1], 40) + Zeros(10) + Zeros(17) + Zeros(8)};
  seeds.push_back({BuildDb(blobs), mb.bytes()});
  return seeds;
}

void Mutate(std::mt19937& rng, std::string& bytes) {
  if (bytes.empty()) return;
  std::uniform_int_distribution<size_t> pos(0, bytes.size() - 1);
  const int ops = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < ops; ++i) {
    switch (rng() % 5) {
      case 0:
        bytes[pos(rng)] = static_cast<char>(rng());
        break;
      case 1:  // a little-endian field set to an edge value
        if (size_t at = pos(rng); at + 1 < bytes.size()) {
          const uint16_t edges[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF};
          Set16(bytes, at, edges[rng() % 5]);
        }
        break;
      case 2:  // the header, where sizes and offsets live
        bytes[rng() % std::min<size_t>(bytes.size(), 0x200)] = static_cast<char>(rng());
        break;
      case 3:
        bytes.resize(pos(rng));
        return;
      default:
        bytes[pos(rng)] ^= static_cast<char>(1 << (rng() % 8));
    }
  }
}

// Another program rewrites or cuts a table while we read it: the reading
// ends with an error naming the file, never with rows of zeros.
TEST_F(ReaderMalformedTest, FilesThatChangeWhileTheyAreRead) {
  const std::string good = BuildDb(SmallTable(30, 10));
  const size_t h = HeaderSize(good);
  MbBuilder mb;
  const uint32_t first = mb.AddSingle(std::string(3000, 'y'));
  const uint32_t second = mb.AddSingle(std::string(3000, 'z'));
  FixtureTable memo;
  memo.fields = {{0x0C, 11, "Memo"}};
  memo.records = {BlobRef(11, "t", first, 3000), BlobRef(11, "t", second, 3000)};
  struct Case {
    const char* what;
    std::string db;
    std::function<void()> change;  // after Open and `before` rows
    int before;
    const char* expected;
  };
  const std::string db = dir_ + "/t.db";
  const Case cases[] = {
      {"cut to its header", good, [&] { std::filesystem::resize_file(db, h); }, 0,
       "changed or ended while it was read"},
      {"cut after a block", good, [&] { std::filesystem::resize_file(db, h + 1024 + 100); }, 10,
       "changed or ended while it was read"},
      {"rewritten with fewer records a block", good,
       [&] { WriteFile(db, BuildDb(SmallTable(30, 15))); }, 10,
       "is no longer the block it was"},
      {"blob file cut", BuildDb(memo),
       [&] { std::filesystem::resize_file(dir_ + "/t.mb", mb.bytes().size() - 2000); }, 1,
       "t.mb changed or ended while it was read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(db, c.db);
    WriteFile(dir_ + "/t.mb", mb.bytes());
    auto reader = TableReader::Open(db);
    ASSERT_TRUE(reader.ok()) << reader.status().message();
    std::vector<Cell> row;
    for (int i = 0; i < c.before; ++i) ASSERT_TRUE((*reader)->Next(row).ok());
    c.change();
    Result<bool> next = (*reader)->Next(row);
    ASSERT_FALSE(next.ok());
    EXPECT_ERROR_HAS(next.status().message(), c.expected);
    EXPECT_TRUE((*reader)->broken());
    EXPECT_FALSE((*reader)->Next(row).ok());  // and stays ended
  }
}

TEST_F(ReaderMalformedTest, OnlyRegularFilesAreOpenedAndCountsAreChecked) {
  const std::string fifo = dir_ + "/x.db";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto reader = TableReader::Open(fifo);  // returns at once: no writer needed
  ASSERT_FALSE(reader.ok());
  EXPECT_ERROR_HAS(reader.status().message(), "not a regular file");
  EXPECT_FALSE(TableReader::Open(dir_).ok());

  std::string counted = BuildDb(SmallTable(3));
  counted[6] = 40;  // the header claims 40 records
  WriteFile(dir_ + "/c.db", counted);
  auto lying = TableReader::Open(dir_ + "/c.db");
  ASSERT_TRUE(lying.ok()) << lying.status().message();
  EXPECT_ERROR_HAS((*lying)->count_status().message(), "the header counts 40 records");
  EXPECT_EQ((*lying)->info().record_count, 3u);
  WriteFile(dir_ + "/t.db", BuildDb(SmallTable(3)));
  auto honest = TableReader::Open(dir_ + "/t.db");
  ASSERT_TRUE(honest.ok());
  EXPECT_TRUE((*honest)->count_status().ok());
}

TEST_F(ReaderMalformedTest, ThousandsOfMutatedFilesNeverCrashOrRunAway) {
  std::mt19937 rng(20240607);
  const std::vector<Seed> seeds = MutationSeeds();
  const std::string db_path = dir_ + "/m.db";
  int opened = 0;
  for (int round = 0; round < 2000; ++round) {
    Seed s = seeds[round % seeds.size()];
    Mutate(rng, rng() % 4 == 0 && !s.mb.empty() ? s.mb : s.db);
    WriteFile(db_path, s.db);
    if (!s.mb.empty()) WriteFile(dir_ + "/m.mb", s.mb);
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(db_path);
    if (!r.ok()) {
      ASSERT_EQ(r.status().message().rfind(db_path, 0), 0u) << r.status().message();
      continue;
    }
    ++opened;
    std::vector<Cell> row;
    uint64_t calls = 0;
    for (;; ++calls) {
      // Every record lies in the file, so there cannot be more of them.
      ASSERT_LE(calls, s.db.size()) << "round " << round;
      Result<bool> more = (*r)->Next(row);
      if (more.ok() && !*more) break;
      if (!more.ok()) {
        ASSERT_EQ(more.status().message().rfind(db_path, 0), 0u) << more.status().message();
        if ((*r)->broken()) break;
      }
    }
    EXPECT_LE((*r)->records_read(), (*r)->info().record_count);
  }
  EXPECT_GT(opened, 200) << "mutations too destructive to reach the record decoder";
}

}  // namespace
}  // namespace corvane::paradox::testing
