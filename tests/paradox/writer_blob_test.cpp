// Memo and binary fields: the .mb file byte for byte on a small case, and
// read back through our reader for sizes around every block boundary.
// (Debian's pxlib aborts on .mb files, so it is no oracle here.)
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "paradox/table_writer.h"
#include "writer_support.h"

namespace corvane::paradox {
namespace {

using testing::Null;
using testing::ReadWithOurReader;
using testing::Rows;
using testing::ScratchFolder;
using testing::Text;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
         static_cast<uint8_t>(s[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
uint16_t Le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

// Text of `n` bytes that differs at every position, so misplaced chunks show.
std::string Pattern(size_t n, char salt = 0) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>('!' + (i * 7 + static_cast<size_t>(salt)) % 90);
  return s;
}

std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out = "\\x";
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

Status Write(const std::string& path, const std::vector<FieldInfo>& fields, const Rows& rows) {
  auto w = TableWriter::Create(path, fields);
  if (!w.ok()) return w.status();
  for (const auto& row : rows) CORVANE_RETURN_IF_ERROR(w.value()->Append(row));
  return w.value()->Finish(TableWriter::Replace::kNever);
}

TEST(TableWriterBlobTest, MbFileAndReferencesByteForByte) {
  ScratchFolder dir;
  const std::string db = dir.File("memo.db");
  std::vector<FieldInfo> fields = {{"Notes", FieldType::kMemo, 20, 0}};
  const std::string a(20, 'A'), b(3000, 'B'), c(5, 'C');
  ASSERT_TRUE(Write(db, fields, {{Text(a)}, {Text(b)}, {Text(c)}, {Null()}}).ok());
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"memo.db", "memo.mb"}));

  // Expected .mb: header block, a sub-allocated block, a single-blob block.
  std::string mb(3 * 4096, '\0');
  mb[0x01] = 1;
  mb[0x03] = 1;
  const unsigned char constants[] = {0x82, 0x73, 0x02, 0x00, 0x29};
  for (int i = 0; i < 5; ++i) mb[0x05 + i] = static_cast<char>(constants[i]);
  mb[0x0C] = 0x10;  // 0x1000 at 0x0B and 0x0D
  mb[0x0E] = 0x10;
  mb[0x10] = 0x10;
  mb[0x11] = 0x40;
  mb[0x14] = 0x08;  // 0x0800 at 0x13
  mb[0x29] = static_cast<char>(0xA1);
  mb[0x2A] = 0x02;
  mb[4096] = 3;
  mb[4096 + 1] = 1;
  const size_t slot63 = 4096 + 12 + 5 * 63;
  mb[slot63] = 0x15;   // first data chunk
  mb[slot63 + 1] = 2;  // 20 bytes = 2 chunks
  mb[slot63 + 2] = 1;  // modification number
  mb[slot63 + 4] = 4;  // bytes used in the last chunk
  mb.replace(4096 + 0x150, 20, a);
  mb[8192] = 2;
  mb[8192 + 1] = 1;  // ceil((9 + 3000) / 4096) units
  mb[8192 + 3] = static_cast<char>(3000 & 0xFF);
  mb[8192 + 4] = static_cast<char>(3000 >> 8);
  mb[8192 + 7] = 1;
  mb.replace(8192 + 9, 3000, b);
  EXPECT_TRUE(Slurp(dir.File("memo.mb")) == mb);

  // Records: leader copy, then pointer, length and modification number.
  const std::string dbf = Slurp(db);
  ASSERT_EQ(dbf.size(), 2048u + 2048u);
  const size_t rec = 2048 + 6;
  EXPECT_EQ(dbf.substr(rec, 10), std::string(10, 'A'));
  EXPECT_EQ(Le32(dbf, rec + 10), 4096u | 63u);
  EXPECT_EQ(Le32(dbf, rec + 14), 20u);
  EXPECT_EQ(Le16(dbf, rec + 18), 1u);
  EXPECT_EQ(dbf.substr(rec + 20, 10), std::string(10, 'B'));
  EXPECT_EQ(Le32(dbf, rec + 30), 8192u | 0xFFu);
  EXPECT_EQ(Le32(dbf, rec + 34), 3000u);
  EXPECT_EQ(dbf.substr(rec + 40, 10), c + std::string(5, '\0'));
  EXPECT_EQ(Le32(dbf, rec + 50), 0u);
  EXPECT_EQ(Le32(dbf, rec + 54), 5u);
  EXPECT_EQ(Le16(dbf, rec + 58), 0u);
  EXPECT_EQ(dbf.substr(rec + 60, 20), std::string(20, '\0'));
}

TEST(TableWriterBlobTest, SizesAroundEveryBoundaryReadBackExactly) {
  // Leader 10; 16-byte chunks; 2048 = largest sub-allocated; 4087 = one
  // whole single-blob unit after its 9-byte header; 235 chunks per block.
  const size_t sizes[] = {0,    1,    9,    10,   11,   15,   16,   17,   32,    33,    2047,
                          2048, 2049, 4087, 4088, 8183, 8184, 3760, 3761, 65536, 300000};
  std::vector<FieldInfo> fields = {{"Id", FieldType::kLong, 0, 0},
                                   {"Memo", FieldType::kMemo, 20, 0},
                                   {"Data", FieldType::kBinary, 10, 0},
                                   {"Pic", FieldType::kGraphic, 10, 0},
                                   {"Obj", FieldType::kOle, 10, 0}};
  Rows rows, want;
  int id = 0;
  for (size_t n : sizes) {
    std::string memo = Pattern(n, static_cast<char>(id));
    std::string bin = Pattern(n, static_cast<char>(id + 1));
    if (n > 2) bin[1] = '\0';  // binary data may hold NUL bytes
    std::vector<Cell> row = {Text(std::to_string(++id)), Text(memo), Text(Hex(bin)), Text(Hex(bin)),
                             Text(Hex(bin))};
    rows.push_back(row);
    if (n == 0) row = {row[0], Null(), Null(), Null(), Null()};
    want.push_back(row);
  }
  // A memo with text beyond ASCII, converted to 1252 and back.
  rows.push_back(
      {Text("99"), Text("Grüße, Ærø — €5 " + std::string(40, 'x')), Null(), Null(), Null()});
  want.push_back(rows.back());
  // Seventy small memos fill more than one sub-allocated block's 64 slots.
  for (int i = 0; i < 70; ++i) {
    rows.push_back(
        {Text(std::to_string(100 + i)), Text(Pattern(11 + i, 'q')), Null(), Null(), Null()});
    want.push_back(rows.back());
  }
  ScratchFolder dir;
  const std::string db = dir.File("BLOBS.DB");
  ASSERT_TRUE(Write(db, fields, rows).ok());
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"BLOBS.DB", "BLOBS.MB"}));
  EXPECT_EQ(Slurp(dir.File("BLOBS.MB")).size() % 4096, 0u);

  auto back = ReadWithOurReader(db);
  ASSERT_EQ(back.error, "");
  ASSERT_EQ(back.rows.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r) {
    for (size_t c = 0; c < fields.size(); ++c) {
      EXPECT_EQ(back.rows[r][c].null, want[r][c].null) << "row " << r << " field " << c;
      EXPECT_TRUE(back.rows[r][c].text == want[r][c].text)
          << "row " << r << " field " << c << " size " << want[r][c].text.size();
    }
  }
}

TEST(TableWriterBlobTest, DoubleByteMemosOfMegabytesReadBackWhole) {
  // Read a piece at a time: a character cut at a piece's end must wait for
  // its second byte, wherever the cuts fall, and a run of NUL bytes longer
  // than a piece stays inside the text.
  std::string text;
  while (text.size() < (3u << 20)) text += "日本語テキスト";
  const Rows rows = {{Text(text)},
                     {Text("a" + text)},
                     {Text("日" + std::string(3u << 20, '\0') + "本")}};
  ScratchFolder dir;
  const std::string db = dir.File("SJIS.DB");
  auto w = TableWriter::Create(db, {{"Memo", FieldType::kMemo, 20, 0}}, 932);
  ASSERT_TRUE(w.ok()) << w.status().message();
  for (const auto& row : rows) ASSERT_TRUE(w.value()->Append(row).ok());
  ASSERT_TRUE(w.value()->Finish(TableWriter::Replace::kNever).ok());
  auto back = ReadWithOurReader(db);
  ASSERT_EQ(back.error, "");
  ASSERT_EQ(back.info.code_page, 932);
  ASSERT_EQ(back.rows.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r) EXPECT_TRUE(back.rows[r][0].text == rows[r][0].text) << r;
}

TEST(TableWriterBlobTest, GraphicAndOleCarryTheirPrefixInTheMbFile) {
  ScratchFolder dir;
  const std::string db = dir.File("pic.db");
  std::vector<FieldInfo> fields = {{"Pic", FieldType::kGraphic, 10, 0},
                                   {"Obj", FieldType::kOle, 10, 0}};
  ASSERT_TRUE(Write(db, fields, {{Text("\\x424d01"), Text("\\xabcd")}}).ok());
  const std::string mb = Slurp(dir.File("pic.mb"));
  // Slot 63 holds the graphic (11 bytes), slot 62 the OLE object (10 bytes).
  const size_t data = 4096 + 0x150;
  EXPECT_EQ(mb.substr(data, 11), std::string("\x01\0\0\x01\x03\0\0\0BM\x01", 11));
  EXPECT_EQ(mb.substr(data + 16, 10), std::string("\x01\0\0\x02\x02\0\0\0\xab\xcd", 10));
  auto back = ReadWithOurReader(db);
  ASSERT_EQ(back.rows.size(), 1u);
  EXPECT_EQ(back.rows[0][0].text, "\\x424d01");
  EXPECT_EQ(back.rows[0][1].text, "\\xabcd");
}

// A value too large to hold whole comes in pieces: the files must be the
// very ones the value given whole makes, also where a piece ends inside a
// character, and a value the field cannot hold fails its row alike.
TEST(TableWriterBlobTest, ValuesInPiecesWriteTheSameFilesAsWholeOnes) {
  constexpr size_t kUpdateTime = 0x60;  // the header's time of writing
  struct Pieces : ValuePieces {
    explicit Pieces(std::string t) : text(std::move(t)) {}
    uint64_t size() const override { return text.size(); }
    Status Read(uint64_t offset, size_t n, char* out) const override {
      text.copy(out, n, offset);
      return Status::Ok();
    }
    std::string text;
  };
  std::string accented;  // pieces of 1 MiB end inside its characters
  while (accented.size() < (5u << 19)) accented += "a\xC3\xA9\xE2\x82\xAC";
  // Accents apart from their letters, written composed: a piece ends
  // between a letter and its accent.
  std::string apart = "x", composed = "x";
  for (int i = 0; i < 600000; ++i) apart += "e\xCC\x81", composed += "\xC3\xA9";
  std::string bytes;
  for (size_t i = 0; i < (3u << 19); ++i) bytes.push_back(static_cast<char>(i * 131 % 256));
  const std::vector<FieldInfo> fields = {{"M", FieldType::kMemo, 20, 0},
                                         {"B", FieldType::kBinary, 10, 0},
                                         {"G", FieldType::kGraphic, 10, 0},
                                         {"O", FieldType::kOle, 10, 0}};
  const std::vector<std::vector<std::string>> rows = {
      {Pattern(5u << 19), Hex(bytes), Hex(bytes.substr(7)), Hex(bytes.substr(1))},
      {accented, Hex(bytes.substr(3)), "\\x", Hex("x")},
      {apart, "\\x", "\\x", "\\x"},
      {accented + "\xCE\xA9", Hex(bytes), "", ""},          // no Ω in code page 1252
      {"m", Hex(bytes).substr(1), Hex(bytes), Hex(bytes)},  // no hex
  };
  ScratchFolder whole, pieced;
  for (const bool in_pieces : {false, true}) {
    auto w = TableWriter::Create((in_pieces ? pieced : whole).File("big.db"), fields);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (size_t r = 0; r < rows.size(); ++r) {
      std::vector<Pieces> values;
      for (const std::string& v : rows[r]) values.emplace_back(v);
      std::vector<CellView> row;
      for (const Pieces& v : values) {
        row.emplace_back(false, in_pieces ? std::string_view() : v.text);
        if (in_pieces) row.back().pieces = &v;
      }
      EXPECT_EQ(w.value()->Append(row).ok(), r < 3)
          << "row " << r << (in_pieces ? " in pieces" : "");
    }
    ASSERT_TRUE(w.value()->Finish(TableWriter::Replace::kNever).ok());
  }
  for (const char* file : {"big.db", "big.mb"}) {
    std::string a = Slurp(whole.File(file)), b = Slurp(pieced.File(file));
    if (std::string(file) == "big.db" && a.size() > kUpdateTime + 4 && b.size() == a.size()) {
      b.replace(kUpdateTime, 4, a, kUpdateTime, 4);  // the time of writing may differ
    }
    EXPECT_TRUE(a == b) << file;
  }
  // Read back a piece at a time too, prefixes and all.
  const auto back = ReadWithOurReader(pieced.File("big.db"));
  ASSERT_EQ(back.rows.size(), 3u);
  for (size_t r = 0; r < 3; ++r) {
    for (size_t c = 0; c < fields.size(); ++c) {
      const bool null = rows[r][c] == "\\x";
      EXPECT_EQ(back.rows[r][c].null, null) << r << " " << c;
      EXPECT_TRUE(null || back.rows[r][c].text == (r == 2 ? composed : rows[r][c]))
          << r << " " << c;
    }
  }
}

TEST(TableWriterBlobTest, BlobValuesTheFieldCannotHoldFailTheirRow) {
  ScratchFolder dir;
  const std::string db = dir.File("bad.db");
  auto w =
      TableWriter::Create(db, {{"M", FieldType::kMemo, 20, 0}, {"B", FieldType::kBinary, 10, 0}});
  ASSERT_TRUE(w.ok());
  EXPECT_FALSE(w.value()->Append({Text("Ω"), Null()}).ok());
  EXPECT_FALSE(w.value()->Append({Null(), Text("\\x0")}).ok());
  EXPECT_FALSE(w.value()->Append({Null(), Text("zz")}).ok());
  ASSERT_TRUE(w.value()->Append({Text("ok"), Text("\\x00")}).ok());
  ASSERT_TRUE(w.value()->Finish(TableWriter::Replace::kNever).ok());
  auto back = ReadWithOurReader(db);
  ASSERT_EQ(back.rows.size(), 1u);
  EXPECT_EQ(back.rows[0][0].text, "ok");
  EXPECT_EQ(back.rows[0][1].text, "\\x00");
}

TEST(TableWriterBlobTest, ATableWithBlobFieldsButOnlyShortValuesStillHasAnMbFile) {
  ScratchFolder dir;
  ASSERT_TRUE(Write(dir.File("short.db"), {{"M", FieldType::kMemo, 20, 0}}, {{Text("tiny")}}).ok());
  EXPECT_EQ(Slurp(dir.File("short.mb")).size(), 4096u);
  EXPECT_EQ(ReadWithOurReader(dir.File("short.db")).rows.at(0).at(0).text, "tiny");
}

}  // namespace
}  // namespace corvane::paradox
