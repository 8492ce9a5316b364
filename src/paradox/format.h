// Paradox table (.db) and blob (.mb) layout: type codes, table description,
// byte-order helpers and the offsets both the reader and the writer use.
// Offsets are those of docs/paradox-format (header 0x00-0x77, data blocks,
// blob blocks); each constant names where in the file it lives.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace corvane::paradox {

// Field type codes, byte 0 of a field descriptor.
enum class FieldType : uint8_t {
  kAlpha = 0x01,
  kDate = 0x02,
  kShort = 0x03,
  kLong = 0x04,
  kMoney = 0x05,
  kNumber = 0x06,
  kLogical = 0x09,
  kMemo = 0x0C,
  kBinary = 0x0D,
  kFormattedMemo = 0x0E,
  kOle = 0x0F,
  kGraphic = 0x10,
  kTime = 0x14,
  kTimestamp = 0x15,
  kAutoIncrement = 0x16,
  kBcd = 0x17,
  kBytes = 0x18,
};

// True for the codes above; anything else makes a table unreadable because
// its record layout is unknown.
bool IsKnownFieldType(uint8_t code);
// Memo, Binary, Formatted memo, OLE and Graphic: leader + 10-byte reference.
bool IsBlobType(FieldType type);
// The one-character symbol Paradox shows for a type ("A", "N", "$", "#" ...).
const char* TypeSymbol(FieldType type);
// A readable name ("Alpha", "Long integer", "BCD" ...).
const char* TypeLabel(FieldType type);

struct FieldInfo {
  std::string name;  // UTF-8
  FieldType type = FieldType::kAlpha;
  int size = 0;   // bytes in the record (BCD: 17)
  int scale = 0;  // BCD decimal places, else 0
};

struct TableInfo {
  std::string path;
  uint8_t version_byte = 0;  // header 0x39
  std::string level;         // "3.0", "3.5", "4", "5", "7"
  uint8_t file_type = 0;     // header 0x04: 0 keyed, 2 not keyed
  bool keyed = false;
  int key_fields = 0;  // header 0x23: the leading fields that form the key
  int block_size = 0;  // bytes
  int header_size = 0;
  int record_size = 0;
  uint32_t record_count = 0;  // records in the block chain (a differing header count is a note)
  int code_page = 0;          // the code page text is converted from
  // What a user should know about the file: a code page that was assumed
  // rather than read, a header record count the blocks do not match.
  std::vector<std::string> notes;
  std::string sort_order;  // language driver name ("ANSIINTL"), or the 3.x byte as "0xB7"
  bool encrypted = false;
  uint32_t auto_increment = 0;  // header 0x49: the last value handed out
  std::vector<FieldInfo> fields;
  // Level 4+: each field's number (header 0x66), which stays with the field
  // through a restructure and names it in the .val and index files. Empty
  // for level 3.
  std::vector<uint16_t> field_numbers;
};

// One field of one row: NULL, or the text in the fixed form of its kind.
// A reader asked to may give a large binary value as its bytes instead
// (`bytes` set); nothing that takes Cells expects that.
struct Cell {
  bool null = true;
  std::string text;
  bool bytes = false;
};

// A value of many megabytes read in pieces where it is kept, so that it
// is never held whole on its way into a table.
class ValuePieces {
 public:
  virtual ~ValuePieces() = default;
  virtual uint64_t size() const = 0;
  // Bytes [offset, offset + n) of the value into `out`.
  virtual Status Read(uint64_t offset, size_t n, char* out) const = 0;
  // For "\\x" hex text kept as the bytes it stands for: those bytes, so
  // that the hex need not be made only to be read back.
  virtual const ValuePieces* HexBytes() const { return nullptr; }
};

// A Cell whose text lives elsewhere (a batch of rows, a Cell), or, when
// `pieces` is set, a value read in pieces (`text` is then empty), or when
// `encoded` is set, a value already encoded for its (non-blob) field.
struct CellView {
  CellView() = default;
  CellView(bool is_null, std::string_view t) : null(is_null), text(t) {}
  CellView(const Cell& cell) : null(cell.null), text(cell.text) {}  // NOLINT: a view of it
  bool null = true;
  std::string_view text;
  const ValuePieces* pieces = nullptr;
  const unsigned char* encoded = nullptr;  // the field's size in bytes
};

// --- byte order -----------------------------------------------------------
// Header, block headers and blob references are little-endian.

inline uint16_t LoadLe16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreLe16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Record data of numeric fields is big-endian with the top bit flipped so
// that bytes sort like values; all zero bytes mean NULL.
inline uint64_t LoadBe(const unsigned char* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}
inline void StoreBe(unsigned char* p, int n, uint64_t v) {
  for (int i = n - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}
// Signed integer of n (1, 2 or 4) bytes: XOR the top bit, then two's complement.
inline int64_t DecodeFlippedInt(const unsigned char* p, int n) {
  const uint64_t raw = LoadBe(p, n) ^ (uint64_t{0x80} << (8 * (n - 1)));
  const uint64_t sign = uint64_t{1} << (8 * n - 1);
  return static_cast<int64_t>((raw ^ sign) - sign);
}
inline void EncodeFlippedInt(unsigned char* p, int n, int64_t v) {
  StoreBe(p, n, static_cast<uint64_t>(v) ^ (uint64_t{0x80} << (8 * (n - 1))));
}
// Double: sign bit set for values >= 0, all bits inverted for negatives.
inline double DecodeFlippedDouble(const unsigned char* p) {
  uint64_t bits = LoadBe(p, 8);
  bits = (bits & (uint64_t{1} << 63)) ? bits & ~(uint64_t{1} << 63) : ~bits;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void EncodeFlippedDouble(unsigned char* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  bits = (bits & (uint64_t{1} << 63)) ? ~bits : bits | (uint64_t{1} << 63);
  StoreBe(p, 8, bits);
}

// --- .db header (offsets from the start of the file) -----------------------
inline constexpr int kHdrRecordSize = 0x00;      // u16
inline constexpr int kHdrHeaderSize = 0x02;      // u16
inline constexpr int kHdrFileType = 0x04;        // u8
inline constexpr int kHdrBlockSizeKiB = 0x05;    // u8, block size / 1024
inline constexpr int kHdrRecordCount = 0x06;     // u32
inline constexpr int kHdrUsedBlocks = 0x0A;      // u16, blocks in the chain
inline constexpr int kHdrFileBlocks = 0x0C;      // u16, blocks in the file
inline constexpr int kHdrFirstBlock = 0x0E;      // u16
inline constexpr int kHdrLastBlock = 0x10;       // u16
inline constexpr int kHdrFieldCount = 0x21;      // u16
inline constexpr int kHdrKeyFieldCount = 0x23;   // u16
inline constexpr int kHdrEncryption1 = 0x25;     // u32
inline constexpr int kHdrSortOrder = 0x29;       // u8
inline constexpr int kHdrVersion = 0x39;         // u8
inline constexpr int kHdrAutoIncrement = 0x49;   // u32, last value issued
inline constexpr int kHdrRealHeaderSize = 0x51;  // u16
inline constexpr int kHdrFixedEnd = 0x58;        // variable part starts here (3.x)
// Extension present from level 4 on in .db files.
inline constexpr int kHdrEncryption2 = 0x5C;      // u32
inline constexpr int kHdrFieldNumbersRel = 0x66;  // u16, offset - 0x58
inline constexpr int kHdrCodePage = 0x6A;         // u16
inline constexpr int kHdrSortIdRel = 0x6E;        // u16, offset - 0x58
inline constexpr int kHdrExtendedEnd = 0x78;
inline constexpr uint32_t kEncryptionMarker = 0xFF00FF00;  // key moved to 0x5C
inline constexpr int kTableNameLen = 79;                   // table-name area, versions < 0x0C
inline constexpr int kTableNameLen7 = 261;                 // version 0x0C
inline constexpr uint8_t kVersionLevel7 = 0x0C;
inline constexpr int kFirstExtendedVersion = 0x05;  // 0x05-0x09 are level 4

// --- data blocks ------------------------------------------------------------
inline constexpr int kBlockHeaderSize = 6;  // next u16, prev u16, lastOffset s16

// --- record field encodings -------------------------------------------------
inline constexpr int kBcdBytes = 17;
inline constexpr int kBcdDigits = 32;
inline constexpr int kBlobRefSize = 10;  // after the leader: u32 ptr, u32 len, u16 mod
// Day 1 is 0001-01-01; 1970-01-01 is day 719163.
inline constexpr int64_t kDateUnixEpochDay = 719163;
inline constexpr int64_t kMsPerDay = 86400000;
// Graphic and OLE blobs start with 4 type bytes and a u32 length.
inline constexpr int kBlobPrefixSize = 8;

// --- .mb file ---------------------------------------------------------------
inline constexpr int kMbUnit = 4096;  // block granule
inline constexpr uint8_t kMbHeaderBlock = 0;
inline constexpr uint8_t kMbSingleBlob = 2;    // one blob, header 9 bytes
inline constexpr uint8_t kMbSubAllocated = 3;  // 64 slots of up to 2048 bytes
inline constexpr uint8_t kMbFreeBlock = 4;
inline constexpr int kMbSingleHeader = 9;
inline constexpr int kMbSlotTable = 12;  // slot i at 12 + 5 * i
inline constexpr int kMbSlotSize = 5;
inline constexpr int kMbSlotCount = 64;
inline constexpr int kMbChunk = 16;
inline constexpr int kMbSingleSlotIndex = 0xFF;

}  // namespace corvane::paradox
