// Outline: lay out the .x record (indexed fields, then the table's key and
// the block, or for a table without a key the record's number, block and
// slot), gather one such record per table record into one buffer, sort
// them (the indexed part folded for a case-insensitive index, reversed for
// a descending one, then by the rest), write them block by block behind a
// table header whose key is the indexed part and the record's place, and
// index those blocks as a primary index would. Offsets are those of
// docs/paradox-secondary-index.md; the place fields of a table without a
// key are inferred (no sample with records shows them).
#include "paradox/secondary_index_writer.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "paradox/code_page.h"
#include "paradox/header_encode.h"
#include "paradox/primary_index.h"

namespace corvane::paradox {
namespace {

constexpr uint8_t kFileTypeSingle = 5;  // "incrementing": kept up to date by Paradox
constexpr uint8_t kFileTypeComposite = 8;
constexpr uint8_t kFileTypeSingleY = 4;
constexpr uint8_t kFileTypeCompositeY = 7;
constexpr int kHdrIndexField = 0x15;  // u8, the first indexed field's number
constexpr int kHdrIndexOptions = 0x55;
constexpr uint8_t kOptionCaseInsensitive = 0x01;
constexpr uint8_t kOptionDescending = 0x10;
constexpr uint8_t kOptionUnique = 0x20;
constexpr uint16_t kNumberDescending = 0x8000;
constexpr int kHeaderGranule = 0x800;
constexpr int kMaxBlocks = 65535;

Status Bad(const std::string& what) { return Status::InvalidArgument(what); }

struct Layout {
  std::vector<FieldInfo> fields;  // of the .x
  std::vector<int> from;          // table offset of each indexed field and key field
  size_t indexed_size = 0;        // bytes of the indexed part
  int key_count = 0;              // .x fields forming its key
  int record_size = 0;
};

Result<Layout> LayOut(const TableInfo& t, const IndexToWrite& index) {
  Layout l;
  std::vector<int> offsets(t.fields.size(), 0);
  for (size_t i = 1; i < t.fields.size(); ++i) offsets[i] = offsets[i - 1] + t.fields[i - 1].size;
  if (index.fields.empty()) return Bad("an index needs a field");
  for (int f : index.fields) {
    if (f < 0 || f >= static_cast<int>(t.fields.size())) return Bad("an index names no field");
    const FieldInfo& field = t.fields[static_cast<size_t>(f)];
    if (IsBlobType(field.type) || field.type == FieldType::kBytes) {
      return Bad("field \"" + field.name + "\" (" + TypeLabel(field.type) + ") cannot be indexed");
    }
    l.fields.push_back(field);
    l.from.push_back(offsets[static_cast<size_t>(f)]);
    l.indexed_size += static_cast<size_t>(field.size);
  }
  if (Status s = CheckKeyFields(l.fields, static_cast<int>(l.fields.size()), t.code_page);
      !s.ok()) {
    return s;
  }
  for (int k = 0; k < t.key_fields; ++k) {
    l.fields.push_back(t.fields[static_cast<size_t>(k)]);
    l.from.push_back(offsets[static_cast<size_t>(k)]);
  }
  if (t.key_fields > 0) {
    l.fields.push_back({"Blk Num", FieldType::kShort, 2, 0});
    l.key_count = static_cast<int>(index.fields.size()) + t.key_fields;
  } else {
    l.fields.push_back({"Tup No", FieldType::kLong, 4, 0});
    l.fields.push_back({"Blk Num", FieldType::kShort, 2, 0});
    l.fields.push_back({"Tup Offset", FieldType::kShort, 2, 0});
    l.key_count = static_cast<int>(index.fields.size()) + 2;
  }
  l.record_size = RecordSize(l.fields);
  return l;
}

// The .x record of one table record.
void PutRecord(const Layout& l, const TableInfo& t, const RecordPlace& r, unsigned char* out) {
  size_t at = 0;
  for (size_t i = 0; i < l.from.size(); ++i) {
    std::memcpy(out + at, r.bytes.data() + l.from[i], static_cast<size_t>(l.fields[i].size));
    at += static_cast<size_t>(l.fields[i].size);
  }
  if (t.key_fields == 0) {
    EncodeFlippedInt(out + at, 4, r.number);
    at += 4;
  }
  EncodeFlippedInt(out + at, 2, r.block);
  if (t.key_fields == 0) EncodeFlippedInt(out + at + 2, 2, r.slot);
}

class Order {
 public:
  Order(const Layout& l, const IndexToWrite& index, const std::string& records)
      : l_(l), index_(index), records_(records) {}
  // The indexed parts compared as the index orders them.
  int Indexed(uint32_t a, uint32_t b) const {
    const unsigned char* pa = At(a);
    const unsigned char* pb = At(b);
    size_t at = 0;
    for (size_t i = 0; i < index_.fields.size(); ++i) {
      const FieldInfo& f = l_.fields[i];
      const bool fold = index_.case_insensitive && f.type == FieldType::kAlpha;
      for (int k = 0; k < f.size; ++k, ++at) {
        const int x = fold ? Fold(pa[at]) : pa[at];
        const int y = fold ? Fold(pb[at]) : pb[at];
        if (x != y) return index_.descending ? y - x : x - y;
      }
    }
    return 0;
  }
  bool operator()(uint32_t a, uint32_t b) const {
    const int c = Indexed(a, b);
    if (c != 0) return c < 0;
    return std::memcmp(At(a), At(b), static_cast<size_t>(l_.record_size)) < 0;
  }
  const unsigned char* At(uint32_t i) const {
    return reinterpret_cast<const unsigned char*>(records_.data()) +
           static_cast<size_t>(i) * static_cast<size_t>(l_.record_size);
  }

 private:
  static int Fold(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }
  const Layout& l_;
  const IndexToWrite& index_;
  const std::string& records_;
};

Status CheckUnique(const Order& order, const std::vector<uint32_t>& sorted, const Layout& l) {
  for (size_t i = 1; i < sorted.size(); ++i) {
    const unsigned char* p = order.At(sorted[i]);
    const bool blank = std::all_of(p, p + l.indexed_size, [](unsigned char c) { return c == 0; });
    if (!blank && order.Indexed(sorted[i - 1], sorted[i]) == 0) {
      return Bad("two rows have the same values in a unique index");
    }
  }
  return Status::Ok();
}

void Put16(std::string& h, size_t at, uint16_t v) {
  StoreLe16(reinterpret_cast<unsigned char*>(&h[at]), v);
}

// The table header EncodeDbHeader makes, turned into an index's.
Result<std::string> XHeader(const TableInfo& t, const IndexToWrite& index, const Layout& l,
                            const std::string& x_name, int block_kib, uint32_t records,
                            uint16_t blocks) {
  DbHeader d;
  d.fields = l.fields;
  for (const FieldInfo& f : l.fields) {
    Result<std::string> name = FromUtf8(f.name, t.code_page);
    if (!name.ok()) return Bad("field name \"" + f.name + "\" has no form in its code page");
    d.field_names.push_back(*name);
  }
  Result<std::string> table_name = FromUtf8(x_name, t.code_page);
  if (table_name.ok()) d.table_name = *table_name;
  d.code_page = t.code_page;
  d.block_size_kib = block_kib;
  d.record_count = records;
  d.blocks = blocks;
  d.key_fields = l.key_count;
  std::string h = EncodeDbHeader(d);
  h[kHdrFileType] = static_cast<char>(index.composite ? kFileTypeComposite : kFileTypeSingle);
  const size_t numbers_at =
      kHdrFixedEnd + LoadLe16(reinterpret_cast<const unsigned char*>(&h[kHdrFieldNumbersRel]));
  const size_t n = index.fields.size();
  for (size_t i = 0; i < l.fields.size(); ++i) {
    uint16_t number = static_cast<uint16_t>(i + 1);
    if (i < n) {
      const auto f = static_cast<size_t>(index.fields[i]);
      number = t.field_numbers.size() == t.fields.size() ? t.field_numbers[f]
                                                         : static_cast<uint16_t>(f + 1);
      if (index.descending) number |= kNumberDescending;
    }
    Put16(h, numbers_at + 2 * i, number);
  }
  h[kHdrIndexField] = static_cast<char>(
      LoadLe16(reinterpret_cast<const unsigned char*>(&h[numbers_at])) & 0xFF);
  h[kHdrIndexOptions] = static_cast<char>((index.case_insensitive ? kOptionCaseInsensitive : 0) |
                                          (index.descending ? kOptionDescending : 0) |
                                          (index.unique ? kOptionUnique : 0));
  // The index name follows the sort order's; the header grows if it must.
  std::string name;
  if (index.composite) {
    Result<std::string> raw = FromUtf8(index.name, t.code_page);
    if (!raw.ok() || raw->find('\0') != std::string::npos) {
      return Bad("index name \"" + index.name + "\" has no form in its code page");
    }
    name = *raw;
  }
  const size_t real = LoadLe16(reinterpret_cast<const unsigned char*>(&h[kHdrRealHeaderSize]));
  const size_t end = real + name.size() + 1;
  if (end >= h.size()) {
    h.resize((end / kHeaderGranule + 1) * kHeaderGranule, '\0');
    Put16(h, kHdrHeaderSize, static_cast<uint16_t>(h.size()));
  }
  h.replace(real, name.size(), name);
  h[real + name.size()] = '\0';
  Put16(h, kHdrRealHeaderSize, static_cast<uint16_t>(end));
  return h;
}

std::string YName(std::string x_name) {
  const size_t dot = x_name.rfind('.');
  if (dot != std::string::npos && dot + 1 < x_name.size()) {
    x_name[dot + 1] = x_name[dot + 1] == 'x' ? 'y' : 'Y';
  }
  return x_name;
}

}  // namespace

Result<IndexFiles> EncodeSecondaryIndex(const TableInfo& table, const IndexToWrite& index,
                                        const std::string& x_name, const RecordWalk& records) {
  Result<Layout> layout = LayOut(table, index);
  if (!layout.ok()) return layout.status();
  const Layout& l = *layout;
  const auto rs = static_cast<size_t>(l.record_size);
  std::string all;
  uint32_t count = 0;
  CORVANE_RETURN_IF_ERROR(records([&](const RecordPlace& r) {
    all.resize(all.size() + rs);
    PutRecord(l, table, r, reinterpret_cast<unsigned char*>(&all[all.size() - rs]));
    ++count;
    return Status::Ok();
  }));
  std::vector<uint32_t> sorted(count);
  std::iota(sorted.begin(), sorted.end(), 0u);
  const Order order(l, index, all);
  std::sort(sorted.begin(), sorted.end(), order);
  if (index.unique) CORVANE_RETURN_IF_ERROR(CheckUnique(order, sorted, l));

  int block_kib = 2;
  size_t per = 0, blocks = 0;
  for (;; block_kib *= 2) {
    per = (static_cast<size_t>(block_kib) * 1024 - kBlockHeaderSize) / rs;
    blocks = per == 0 ? 0 : (count + per - 1) / per;
    if (per > 0 && blocks <= kMaxBlocks) break;
    if (block_kib == 32) return Bad("the index would need more than 65535 blocks");
  }
  Result<std::string> header = XHeader(table, index, l, x_name, block_kib, count,
                                       static_cast<uint16_t>(blocks));
  if (!header.ok()) return header.status();
  IndexFiles out;
  out.x = std::move(*header);
  out.x.reserve(out.x.size() + blocks * static_cast<size_t>(block_kib) * 1024);
  std::vector<IndexEntry> leaves;
  const size_t block_size = static_cast<size_t>(block_kib) * 1024;
  const auto key_size = static_cast<size_t>(
      RecordSize({l.fields.begin(), l.fields.begin() + l.key_count}));
  for (size_t b = 0; b < blocks; ++b) {
    std::string block(block_size, '\0');
    const size_t first = b * per;
    const size_t n = std::min(per, count - first);
    auto* p = reinterpret_cast<unsigned char*>(block.data());
    StoreLe16(p, static_cast<uint16_t>(b + 1 < blocks ? b + 2 : 0));
    StoreLe16(p + 2, static_cast<uint16_t>(b));
    StoreLe16(p + 4, static_cast<uint16_t>((n - 1) * rs));
    for (size_t i = 0; i < n; ++i) {
      std::memcpy(p + kBlockHeaderSize + i * rs, order.At(sorted[first + i]), rs);
    }
    leaves.push_back({block.substr(kBlockHeaderSize, key_size), static_cast<uint16_t>(b + 1),
                      static_cast<uint32_t>(n)});
    out.x += block;
  }
  PrimaryIndexSpec spec;
  spec.key_fields.assign(l.fields.begin(), l.fields.begin() + l.key_count);
  Result<std::string> y_name = FromUtf8(YName(x_name), table.code_page);
  if (y_name.ok()) spec.file_name = *y_name;
  spec.version_byte = static_cast<uint8_t>(out.x[kHdrVersion]);
  spec.sort_order = static_cast<uint8_t>(out.x[kHdrSortOrder]);
  Result<std::string> y = EncodePrimaryIndex(spec, leaves);
  if (!y.ok()) return y.status();
  out.y = std::move(*y);
  out.y[kHdrFileType] = static_cast<char>(index.composite ? kFileTypeCompositeY : kFileTypeSingleY);
  return out;
}

}  // namespace corvane::paradox
