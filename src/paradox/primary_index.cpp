// Outline. Encode: size the index records (key + 6), pick the smallest
// block size that keeps the index at two levels, group each level's entries
// into blocks and give every block above the leaves one entry per block
// below; number the blocks root first, then each level down to the leaves,
// and chain them in that order. Check: walk the table's data block chain,
// then the index from its root, comparing every entry with what it points at.
#include "paradox/primary_index.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "paradox/companion_files.h"
#include "paradox/file_io.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kFileTypeIndex = 1;  // header 0x04 of a .px
constexpr int kIndexHeaderSize = 0x800;
constexpr int kHdrRootBlock = 0x1E;  // u16
constexpr int kHdrLevels = 0x20;     // u8
constexpr int kEntryTail = 6;        // block, records, 0: three shorts
constexpr uint32_t kMaxIndexBlocks = 0xFFFF;
constexpr int kMaxLevels = 8;  // far beyond 65535 data blocks at 2+ entries a block
// Real indexes use 1, 2 or 4 KiB; the larger sizes only serve long keys.
constexpr int kIndexBlockKiB[] = {2, 4, 16, 32};

int KeySize(const std::vector<FieldInfo>& fields) {
  int size = 0;
  for (const FieldInfo& f : fields) size += f.size;
  return size;
}

size_t BlocksFor(size_t entries, size_t per_block) { return (entries + per_block - 1) / per_block; }

// Entries per block, count of index blocks per level (leaves first).
struct Shape {
  int block_size = 0;
  size_t per_block = 0;
  std::vector<size_t> blocks_per_level;
  size_t total_blocks() const {
    size_t sum = 0;
    for (size_t b : blocks_per_level) sum += b;
    return sum;
  }
};

Shape ShapeFor(size_t leaves, int record_size) {
  Shape shape;
  for (int kib : kIndexBlockKiB) {
    shape.block_size = kib * 1024;
    shape.per_block = static_cast<size_t>((shape.block_size - kBlockHeaderSize) / record_size);
    if (shape.per_block >= 2 && leaves <= shape.per_block * shape.per_block) break;
  }
  shape.blocks_per_level.clear();
  for (size_t n = leaves; n > 0;) {
    const size_t blocks = BlocksFor(n, shape.per_block);
    shape.blocks_per_level.push_back(blocks);
    if (blocks == 1) break;
    n = blocks;
  }
  return shape;
}

std::string EncodeIndexHeader(const PrimaryIndexSpec& spec, const Shape& shape, int record_size,
                              uint32_t entries) {
  std::string h(kHdrFixedEnd, '\0');
  auto at = [&](int offset) { return reinterpret_cast<unsigned char*>(&h[offset]); };
  const auto blocks = static_cast<uint16_t>(shape.total_blocks());
  StoreLe16(at(kHdrRecordSize), static_cast<uint16_t>(record_size));
  StoreLe16(at(kHdrHeaderSize), kIndexHeaderSize);
  *at(kHdrFileType) = kFileTypeIndex;
  *at(kHdrBlockSizeKiB) = static_cast<unsigned char>(shape.block_size / 1024);
  StoreLe32(at(kHdrRecordCount), entries);
  StoreLe16(at(kHdrUsedBlocks), blocks);
  StoreLe16(at(kHdrFileBlocks), blocks);
  StoreLe16(at(kHdrFirstBlock), blocks > 0 ? 1 : 0);
  StoreLe16(at(kHdrLastBlock), blocks);
  StoreLe16(at(kHdrRootBlock), blocks > 0 ? 1 : 0);
  *at(kHdrLevels) = static_cast<unsigned char>(shape.blocks_per_level.size());
  StoreLe16(at(kHdrFieldCount), static_cast<uint16_t>(spec.key_fields.size()));
  *at(kHdrSortOrder) = spec.sort_order;
  *at(kHdrVersion) = spec.version_byte;
  StoreLe16(at(0x3A), blocks);  // max blocks, equal to the file's blocks everywhere seen
  for (const FieldInfo& f : spec.key_fields) {
    h.push_back(static_cast<char>(f.type));
    h.push_back(static_cast<char>(f.type == FieldType::kBcd ? f.scale : f.size));
  }
  h.append(4, '\0');  // run-time pointer
  const int name_len = spec.version_byte == kVersionLevel7 ? kTableNameLen7 : kTableNameLen;
  std::string name = spec.file_name.substr(0, static_cast<size_t>(name_len - 1));
  name.resize(static_cast<size_t>(name_len), '\0');
  h += name;
  StoreLe16(at(kHdrRealHeaderSize), static_cast<uint16_t>(h.size()));
  h.resize(kIndexHeaderSize, '\0');
  return h;
}

void PutEntry(unsigned char* out, const IndexEntry& e, int key_size) {
  std::memcpy(out, e.key.data(), static_cast<size_t>(key_size));
  EncodeFlippedInt(out + key_size, 2, e.block);
  // Counts above 32767 records cannot be shown in a short; the field is a
  // statistic nobody relies on for finding records.
  EncodeFlippedInt(out + key_size + 2, 2, std::min<uint32_t>(e.records, 32767));
  EncodeFlippedInt(out + key_size + 4, 2, 0);
}

}  // namespace

Result<std::string> EncodePrimaryIndex(const PrimaryIndexSpec& spec,
                                       const std::vector<IndexEntry>& leaves) {
  const int key_size = KeySize(spec.key_fields);
  if (spec.key_fields.empty() || key_size <= 0) {
    return Status::InvalidArgument("a primary index needs at least one key field");
  }
  const int record_size = key_size + kEntryTail;
  const Shape shape = ShapeFor(leaves.size(), record_size);
  if (shape.per_block < 2 || shape.total_blocks() > kMaxIndexBlocks) {
    return Status::InvalidArgument("the key of " + std::to_string(key_size) +
                                   " bytes is too long for a Paradox primary index");
  }
  // First block number of each level: the root is block 1, leaves come last.
  const size_t levels = shape.blocks_per_level.size();
  std::vector<uint16_t> first(levels);
  uint32_t next = 1;
  for (size_t l = levels; l-- > 0;) {
    first[l] = static_cast<uint16_t>(next);
    next += static_cast<uint32_t>(shape.blocks_per_level[l]);
  }
  std::string file;
  uint32_t entries_total = 0;
  std::vector<std::string> blocks(shape.total_blocks());
  std::vector<IndexEntry> level = leaves;
  for (size_t l = 0; l < levels; ++l) {
    std::vector<IndexEntry> above;
    for (size_t b = 0; b < shape.blocks_per_level[l]; ++b) {
      const size_t begin = b * shape.per_block;
      const size_t end = std::min(level.size(), begin + shape.per_block);
      const uint16_t number = static_cast<uint16_t>(first[l] + b);
      std::string& block = blocks[number - 1];
      block.assign(static_cast<size_t>(shape.block_size), '\0');
      auto* p = reinterpret_cast<unsigned char*>(block.data());
      IndexEntry up{level[begin].key, number, 0};
      for (size_t i = begin; i < end; ++i) {
        PutEntry(p + kBlockHeaderSize + (i - begin) * static_cast<size_t>(record_size), level[i],
                 key_size);
        up.records += level[i].records;
      }
      StoreLe16(p + 4, static_cast<uint16_t>((end - begin - 1) * static_cast<size_t>(record_size)));
      entries_total += static_cast<uint32_t>(end - begin);
      above.push_back(std::move(up));
    }
    level = std::move(above);
  }
  file = EncodeIndexHeader(spec, shape, record_size, entries_total);
  for (size_t k = 0; k < blocks.size(); ++k) {
    auto* p = reinterpret_cast<unsigned char*>(blocks[k].data());
    StoreLe16(p, static_cast<uint16_t>(k + 1 < blocks.size() ? k + 2 : 0));
    StoreLe16(p + 2, static_cast<uint16_t>(k));
    file += blocks[k];
  }
  return file;
}

namespace {

// Reads the index and the table's chain; fills `problem` with the first
// disagreement.
class IndexChecker {
 public:
  IndexChecker(const TableInfo& info, IndexCheck& out) : info_(info), out_(out) {}

  Status Run(const fs::path& px_path) {
    CORVANE_RETURN_IF_ERROR(db_.Open(info_.path));
    for (const FieldInfo& f : info_.fields) {
      if (static_cast<int>(key_fields_.size()) == info_.key_fields) break;
      key_fields_.push_back(f);
    }
    key_size_ = KeySize(key_fields_);
    CORVANE_RETURN_IF_ERROR(ReadChain());
    if (!out_.problem.empty()) return Status::Ok();
    if (!px_.Open(px_path.string()).ok()) return Problem("it cannot be read");
    if (!ReadIndexHeader()) return Status::Ok();
    if (out_.levels == 0) {
      if (!chain_.empty()) Fail("it is empty but the table has records");
      return Status::Ok();
    }
    uint32_t records = 0;
    std::string first_key;
    if (!Visit(root_, out_.levels, records, first_key)) return Status::Ok();
    if (next_leaf_ != chain_.size()) Fail("it leaves data blocks of the table out");
    return Status::Ok();
  }

 private:
  struct DataBlock {
    uint16_t number;
    uint32_t records;
    std::string first_key;
  };

  // Notes the first disagreement; false so that callers can stop with it.
  bool Fail(std::string text) {
    if (out_.problem.empty()) out_.problem = std::move(text);
    return false;
  }
  Status Problem(std::string text) {
    Fail(std::move(text));
    return Status::Ok();
  }

  Status ReadChain() {
    unsigned char h[kHdrFixedEnd];
    auto got = db_.ReadAt(0, sizeof h, h);
    if (!got.ok()) return got.status();
    if (*got < sizeof h) return Problem("the table's header is cut short");
    const uint16_t file_blocks = LoadLe16(h + kHdrFileBlocks);
    std::set<uint16_t> seen;
    std::string buf(static_cast<size_t>(kBlockHeaderSize + key_size_), '\0');
    auto* p = reinterpret_cast<unsigned char*>(buf.data());
    for (uint16_t k = LoadLe16(h + kHdrFirstBlock); k != 0 && chain_.size() < file_blocks;) {
      if (!seen.insert(k).second) return Problem("the table's block chain loops");
      const uint64_t at =
          static_cast<uint64_t>(info_.header_size) + uint64_t{k - 1u} * info_.block_size;
      auto n = db_.ReadAt(at, buf.size(), p);
      if (!n.ok()) return n.status();
      if (*n < buf.size()) return Problem("the table's block " + std::to_string(k) + " is missing");
      const auto last = static_cast<int16_t>(LoadLe16(p + 4));
      const uint32_t records = last < 0 ? 0 : static_cast<uint32_t>(last / info_.record_size + 1);
      chain_.push_back({k, records, buf.substr(kBlockHeaderSize)});
      k = LoadLe16(p);
    }
    return Status::Ok();
  }

  bool ReadIndexHeader() {
    unsigned char h[kHdrFixedEnd];
    auto got = px_.ReadAt(0, sizeof h, h);
    if (!got.ok() || *got < sizeof h) return Fail("its header is cut short");
    if (h[kHdrFileType] != kFileTypeIndex) return Fail("it is not a primary index");
    header_size_ = LoadLe16(h + kHdrHeaderSize);
    block_size_ = h[kHdrBlockSizeKiB] * 1024;
    record_size_ = LoadLe16(h + kHdrRecordSize);
    root_ = LoadLe16(h + kHdrRootBlock);
    out_.levels = h[kHdrLevels];
    out_.entries = LoadLe32(h + kHdrRecordCount);
    if (LoadLe16(h + kHdrFieldCount) != key_fields_.size() || record_size_ != key_size_ + 6) {
      return Fail("its key is not the table's " + std::to_string(key_fields_.size()) +
                  " leading fields");
    }
    std::string descriptors(2 * key_fields_.size(), '\0');
    auto n = px_.ReadAt(kHdrFixedEnd, descriptors.size(), descriptors.data());
    for (size_t i = 0; n.ok() && *n == descriptors.size() && i < key_fields_.size(); ++i) {
      const FieldInfo& f = key_fields_[i];
      const int size = f.type == FieldType::kBcd ? f.scale : f.size;
      if (static_cast<uint8_t>(descriptors[2 * i]) != static_cast<uint8_t>(f.type) ||
          static_cast<uint8_t>(descriptors[2 * i + 1]) != size) {
        return Fail("its key field " + std::to_string(i + 1) + " differs from \"" + f.name + "\"");
      }
    }
    if (!n.ok() || *n != descriptors.size()) return Fail("its header is cut short");
    if (block_size_ < record_size_ + kBlockHeaderSize || header_size_ < kHdrFixedEnd ||
        out_.levels > kMaxLevels) {
      return Fail("its header is damaged");
    }
    return true;
  }

  // Checks index block `number` at `level`; returns its records and first key.
  bool Visit(uint16_t number, int level, uint32_t& records, std::string& first_key) {
    if (!visited_.insert(number).second) return Fail("its blocks loop");
    std::string block(static_cast<size_t>(block_size_), '\0');
    auto* p = reinterpret_cast<unsigned char*>(block.data());
    const uint64_t at = static_cast<uint64_t>(header_size_) + uint64_t{number - 1u} * block_size_;
    auto n = number == 0 ? Result<size_t>(size_t{0}) : px_.ReadAt(at, block.size(), p);
    // The last block may end right after its last entry, as in tables.
    if (!n.ok() || *n < static_cast<size_t>(kBlockHeaderSize)) {
      return Fail("its block " + std::to_string(number) + " is missing");
    }
    const auto last = static_cast<int16_t>(LoadLe16(p + 4));
    if (last < 0 || last % record_size_ != 0 ||
        static_cast<size_t>(last + record_size_ + kBlockHeaderSize) > *n) {
      return Fail("its block " + std::to_string(number) + " holds no entries");
    }
    records = 0;
    for (int off = 0; off <= last; off += record_size_) {
      const unsigned char* e = p + kBlockHeaderSize + off;
      const std::string key(reinterpret_cast<const char*>(e), static_cast<size_t>(key_size_));
      const auto target = static_cast<uint16_t>(DecodeFlippedInt(e + key_size_, 2));
      const auto count = static_cast<uint32_t>(DecodeFlippedInt(e + key_size_ + 2, 2));
      if (off == 0) first_key = key;
      uint32_t below = 0;
      std::string below_key;
      if (level > 1) {
        if (!Visit(target, level - 1, below, below_key)) return false;
      } else {
        if (next_leaf_ >= chain_.size() || chain_[next_leaf_].number != target) {
          return Fail("an entry points at block " + std::to_string(target) +
                      " out of the table's block order");
        }
        below = chain_[next_leaf_].records;
        below_key = chain_[next_leaf_++].first_key;
      }
      if (key != below_key) {
        return Fail("the entry for block " + std::to_string(target) +
                    " does not hold that block's first key");
      }
      if (count != std::min<uint32_t>(below, 32767)) {
        return Fail("the entry for block " + std::to_string(target) + " counts " +
                    std::to_string(count) + " records, not " + std::to_string(below));
      }
      records += below;
    }
    return true;
  }

  const TableInfo& info_;
  IndexCheck& out_;
  ReadOnlyFile db_, px_;
  std::vector<FieldInfo> key_fields_;
  int key_size_ = 0;
  std::vector<DataBlock> chain_;
  size_t next_leaf_ = 0;
  std::set<uint16_t> visited_;
  int header_size_ = 0, block_size_ = 0, record_size_ = 0;
  uint16_t root_ = 0;
};

}  // namespace

Result<IndexCheck> CheckPrimaryIndex(const TableInfo& info) {
  IndexCheck out;
  const fs::path db_path(info.path);
  const fs::path folder = db_path.has_parent_path() ? db_path.parent_path() : fs::path(".");
  for (const fs::path& p : CompanionFiles(folder, db_path.stem().string())) {
    if (SameNameIgnoringCase(p.extension().string(), ".px")) out.file = p.filename().string();
  }
  if (!info.keyed || info.key_fields <= 0) {
    out.problem = "the table is not keyed";
    return out;
  }
  if (out.file.empty()) {
    out.problem = "there is no .px file";
    return out;
  }
  if (info.encrypted) {
    out.problem = "not checked: the table is password-protected";
    return out;
  }
  IndexChecker checker(info, out);
  CORVANE_RETURN_IF_ERROR(checker.Run(folder / out.file));
  return out;
}

}  // namespace corvane::paradox
