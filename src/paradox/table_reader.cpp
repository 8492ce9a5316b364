// Reading outline: Open() decodes the header and walks the block chain once,
// reading only each block's 6-byte header, so that the chain is checked
// (cycles, blocks past the end, record counts that do not fit) and the row
// count is exact before the first row. Next() then loads one block at a time
// and decodes its records field by field.
#include "paradox/table_reader.h"

#include <algorithm>
#include <new>
#include <optional>

#include "paradox/blob_file.h"
#include "paradox/code_page.h"
#include "paradox/crypt.h"
#include "paradox/field_decode.h"
#include "paradox/file_io.h"
#include "paradox/table_header.h"

namespace corvane::paradox {

class TableReader::Impl {
 public:
  Status Open(const std::string& path, const ReadOptions& options);
  Status OpenHeader(const std::string& path) {
    CORVANE_RETURN_IF_ERROR(db_.Open(path));
    return ReadHeader();
  }
  Result<bool> Next(std::vector<Cell>& row);

  TableInfo& info() { return h_.info; }
  uint64_t records_read() const { return records_read_; }
  bool broken() const { return fatal_.has_value(); }
  const Status& count_status() const { return count_status_; }
  uint64_t values_made_null() const { return values_made_null_; }
  size_t bytes_from_ = 0;  // binary blobs this large come as bytes

 private:
  Status ReadHeader();
  Status WalkChain();
  Status CheckBlock(int k, const unsigned char* head, int& count) const;
  Status LoadBlock(size_t pos);
  Status DecodeRecord(const unsigned char* rec, std::vector<Cell>& row);
  Status DecodeBlob(const FieldInfo& f, const unsigned char* p, Cell& cell);
  Status Bad(const std::string& what) const { return Status::Corruption(db_.path() + ": " + what); }
  Status OpenBlobs(const std::string& path, const ReadOptions& options);
  Status CheckNotReplaced() const;
  uint64_t BlockOffset(int k) const {
    return h_.info.header_size + uint64_t(k - 1) * h_.info.block_size;
  }

  ReadOnlyFile db_;
  TableHeader h_;
  std::vector<int> field_offsets_;
  std::vector<uint16_t> chain_;   // block numbers in chain order
  std::vector<uint16_t> counts_;  // live records in each
  size_t pos_ = 0;                // index into chain_
  int next_in_block_ = 0;
  std::optional<size_t> loaded_;
  std::vector<unsigned char> block_;
  std::optional<BlobFile> blobs_;
  bool blobs_missing_ = false;  // and their values come as null
  bool blob_read_ = false;      // a value was read from the .mb
  uint64_t values_made_null_ = 0;
  std::string blob_bytes_;
  uint64_t records_read_ = 0;
  std::optional<Status> fatal_;
  Status count_status_;
};

Status TableReader::Impl::Open(const std::string& path, const ReadOptions& options) {
  CORVANE_RETURN_IF_ERROR(OpenHeader(path));
  int offset = 0;
  for (const FieldInfo& f : h_.info.fields) {
    field_offsets_.push_back(offset);
    offset += f.size;
  }
  CORVANE_RETURN_IF_ERROR(OpenBlobs(path, options));
  block_.resize(h_.info.block_size);
  Status chain = WalkChain();
  // The key is in the header, so a protected table is decrypted without its
  // password; a failure then most likely means the scheme did not fit.
  if (!chain.ok() && h_.info.encrypted) {
    return Status::NotSupported(path + " is password-protected, and decrypting it failed (" +
                                chain.message() + ")");
  }
  return chain;
}

// The .mb is opened with the table, not at the first value that needs it:
// by then another program may have put a new version of the table in place.
Status TableReader::Impl::OpenBlobs(const std::string& path, const ReadOptions& options) {
  blobs_.emplace(path, h_.encryption_key);
  const auto& fields = h_.info.fields;
  if (std::none_of(fields.begin(), fields.end(), [](const FieldInfo& f) {
        return IsBlobType(f.type);
      })) {
    return Status::Ok();
  }
  Status opened = blobs_->Open();
  if (opened.code() == Status::Code::kNotFound && options.missing_blobs_as_null) {
    blobs_missing_ = true;
    return Status::Ok();
  }
  if (!opened.ok()) {
    return Status::Error(opened.code(), path + " has memo or blob fields, but " +
                                            opened.message() +
                                            "; none of its rows were read.");
  }
  // Both files must be of one version: one replaced between the two opens
  // would pair this table with another's memos.
  return CheckNotReplaced();
}

Status TableReader::Impl::CheckNotReplaced() const {
  if (db_.StillAtPath() && blobs_->StillAtPath()) return Status::Ok();
  return Status::IoError(db_.path() +
                         " was replaced or removed by another program while it was read; "
                         "the rows read so far are of the version it replaced, and none of "
                         "the new one.");
}

Status TableReader::Impl::ReadHeader() {
  unsigned char probe[kHeaderProbeSize] = {};
  Result<size_t> got = db_.ReadAt(0, sizeof probe, probe);
  if (!got.ok()) return got.status();
  const size_t want = std::max<size_t>(LoadLe16(probe + kHdrHeaderSize), kHdrExtendedEnd);
  std::string header(std::min<uint64_t>(want, db_.size()), '\0');
  got = db_.ReadAt(0, header.size(), header.data());
  if (!got.ok()) return got.status();
  header.resize(*got);
  Result<TableHeader> h = DecodeTableHeader(header, db_.size(), db_.path());
  if (!h.ok()) return h.status();
  h_ = std::move(h).value();
  return Status::Ok();
}

// Checks one block header; `count` gets its number of live records.
Status TableReader::Impl::CheckBlock(int k, const unsigned char* head, int& count) const {
  const int rs = h_.info.record_size;
  const int last = static_cast<int16_t>(LoadLe16(head + 4));
  count = last < 0 ? 0 : last / rs + 1;
  const std::string which = "data block " + std::to_string(k);
  if (last >= 0 && (last % rs != 0 || kBlockHeaderSize + last + rs > h_.info.block_size)) {
    return Bad(which + " claims more records than it can hold");
  }
  uint64_t used = kBlockHeaderSize + uint64_t(count) * rs;
  // Decrypting a chunk needs all of it.
  if (h_.encryption_key) used = (used + kCryptChunk - 1) / kCryptChunk * kCryptChunk;
  if (BlockOffset(k) + used > db_.size()) {
    return Bad(which + " is cut short: the file ends inside its records");
  }
  return Status::Ok();
}

Status TableReader::Impl::WalkChain() {
  std::vector<bool> seen(65536, false);
  uint64_t total = 0;
  for (int k = h_.first_block; k != 0;) {
    if (seen[k]) return Bad("the data block chain loops back to block " + std::to_string(k));
    seen[k] = true;
    const std::string which = "data block " + std::to_string(k);
    // Encrypted blocks are decrypted a 256-byte chunk at a time.
    unsigned char head[kCryptChunk] = {};
    const size_t want = h_.encryption_key ? kCryptChunk : kBlockHeaderSize;
    Result<size_t> got = db_.ReadAt(BlockOffset(k), want, head);
    if (!got.ok()) return got.status();
    if (*got < static_cast<size_t>(kBlockHeaderSize)) {
      return Bad(which + " lies past the end of the file");
    }
    if (h_.encryption_key) DecryptDbBlock(head, kCryptChunk, h_.encryption_key, k);
    int count = 0;
    CORVANE_RETURN_IF_ERROR(CheckBlock(k, head, count));
    chain_.push_back(static_cast<uint16_t>(k));
    counts_.push_back(static_cast<uint16_t>(count));
    total += count;
    k = LoadLe16(head);
  }
  if (total != h_.info.record_count) {
    const std::string what = "the header counts " + std::to_string(h_.info.record_count) +
                             " records, the data blocks hold " + std::to_string(total);
    h_.info.notes.push_back(what);
    count_status_ = Bad(what + "; only the records of the data blocks are read");
    h_.info.record_count = static_cast<uint32_t>(total);
  }
  return Status::Ok();
}

// The block must still be what the chain walk saw: a table that another
// program shrank or rewrote since Open must not yield zeros or another
// table's records as rows.
Status TableReader::Impl::LoadBlock(size_t pos) {
  CORVANE_RETURN_IF_ERROR(CheckNotReplaced());
  const uint64_t offset = BlockOffset(chain_[pos]);
  // The last block may be cut right after its last record; the records were
  // checked to lie inside the file (as it was at Open) when the chain was
  // walked.
  const size_t want = static_cast<size_t>(std::min<uint64_t>(block_.size(), db_.size() - offset));
  CORVANE_RETURN_IF_ERROR(db_.ReadExactly(offset, want, block_.data()));
  std::fill(block_.begin() + static_cast<std::ptrdiff_t>(want), block_.end(), 0);
  if (h_.encryption_key) {
    DecryptDbBlock(block_.data(), block_.size(), h_.encryption_key, chain_[pos]);
  }
  const int last = static_cast<int16_t>(LoadLe16(block_.data() + 4));
  const int count = last < 0 ? 0 : last / h_.info.record_size + 1;
  const uint16_t next = pos + 1 < chain_.size() ? chain_[pos + 1] : 0;
  if (LoadLe16(block_.data()) != next || count != counts_[pos]) {
    return FileChanged(db_.path(), "data block " + std::to_string(chain_[pos]) +
                                       " is no longer the block it was when the table was opened");
  }
  loaded_ = pos;
  return Status::Ok();
}

Result<bool> TableReader::Impl::Next(std::vector<Cell>& row) {
  if (fatal_) return *fatal_;
  while (pos_ < chain_.size() && next_in_block_ >= counts_[pos_]) {
    ++pos_;
    next_in_block_ = 0;
  }
  if (pos_ == chain_.size()) {
    // The end of the version opened is not the end of the table now there.
    if (Status same = CheckNotReplaced(); !same.ok()) {
      fatal_ = same;
      return same;
    }
    return false;
  }
  if (loaded_ != pos_) {
    Status s = LoadBlock(pos_);
    if (!s.ok()) {
      fatal_ = s;
      return s;
    }
  }
  const unsigned char* rec =
      block_.data() + kBlockHeaderSize + size_t(next_in_block_) * h_.info.record_size;
  ++next_in_block_;
  ++records_read_;
  row.resize(h_.info.fields.size());
  Status decoded = DecodeRecord(rec, row);
  // A damaged value costs its record; a file that cannot be read any more
  // (changed under us, an I/O error) ends the table.
  if (decoded.code() == Status::Code::kIoError) fatal_ = decoded;
  CORVANE_RETURN_IF_ERROR(decoded);
  return true;
}

Status TableReader::Impl::DecodeRecord(const unsigned char* rec, std::vector<Cell>& row) {
  const std::vector<FieldInfo>& fields = h_.info.fields;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& f = fields[i];
    const unsigned char* p = rec + field_offsets_[i];
    Status s = IsBlobType(f.type) ? DecodeBlob(f, p, row[i])
                                  : DecodeScalarField(f, p, h_.info.code_page, row[i]);
    if (!s.ok()) {
      return Status::Error(s.code(), db_.path() + ": record " + std::to_string(records_read_) +
                                         ", field \"" + f.name + "\": " + s.message());
    }
  }
  return Status::Ok();
}

namespace {

constexpr size_t kKeepBlobBuffer = size_t{1} << 20;

// Graphic and OLE values start with 01 00 00 0x and their own length;
// anything else is kept whole rather than guessed at.
size_t PrefixToStrip(FieldType type, const unsigned char* p, size_t n) {
  if (type != FieldType::kGraphic && type != FieldType::kOle) return 0;
  if (n < static_cast<size_t>(kBlobPrefixSize)) return 0;
  if (p[0] != 1 || p[1] != 0 || p[2] != 0 || (p[3] != 1 && p[3] != 2)) return 0;
  return LoadLe32(p + 4) == n - kBlobPrefixSize ? kBlobPrefixSize : 0;
}

// A large memo gets room for the longest UTF-8 it can become, of which
// only what is written is ever resident: growing would copy it whole.
// Where even the room cannot be had, it grows as it must.
void ReserveForText(int code_page, uint32_t length, std::string& text) {
  const size_t most = IsDoubleByteCodePage(code_page) ? 2 : 3;  // UTF-8 bytes per byte
  try {
    text.reserve(length >= kKeepBlobBuffer ? most * size_t{length} : length);
  } catch (const std::bad_alloc&) {
    try {
      text.reserve(length);
    } catch (const std::bad_alloc&) {
    }
  }
}

}  // namespace

Status TableReader::Impl::DecodeBlob(const FieldInfo& f, const unsigned char* p, Cell& cell) {
  cell.null = true;
  cell.bytes = false;
  cell.text.clear();
  const uint32_t leader = f.size - kBlobRefSize;
  const uint32_t pointer = LoadLe32(p + leader);
  const uint32_t length = LoadLe32(p + leader + 4);
  if (length == 0) return Status::Ok();
  const unsigned char* data = p;
  if (pointer != 0 && blobs_missing_) {
    ++values_made_null_;
    return Status::Ok();
  }
  if (pointer != 0 && !blob_read_) {
    // Renamed over between Open and now: the .mb read from here on would
    // still be ours, but the table at the path is no longer the one read.
    CORVANE_RETURN_IF_ERROR(CheckNotReplaced());
    blob_read_ = true;
  }
  if (pointer == 0) {
    if (length > leader) {
      return Status::Corruption("a blob of " + std::to_string(length) +
                                " bytes is marked as held in its " + std::to_string(leader) +
                                "-byte leader");
    }
  } else if (f.type != FieldType::kMemo) {
    // Hex a piece at a time: the raw bytes are never whole beside their text.
    size_t skip = 0;
    bool first = true;
    Status read = blobs_->ReadPieces(pointer, length, [&](const unsigned char* piece, size_t n) {
      if (first) {
        skip = PrefixToStrip(f.type, piece, length);
        cell.bytes = bytes_from_ > 0 && length - skip >= bytes_from_;
        cell.text.reserve(cell.bytes ? length - skip : 2 + 2 * (length - skip));
        if (!cell.bytes) cell.text = "\\x";
        first = false;
      }
      if (cell.bytes) {
        cell.text.append(reinterpret_cast<const char*>(piece) + skip, n - skip);
      } else {
        AppendHexDigits(piece + skip, n - skip, cell.text);
      }
      skip = 0;
    });
    if (!read.ok()) cell.text.clear(), cell.bytes = false;
    cell.null = !read.ok();
    return read;
  } else if (const int cp = h_.info.code_page; IsSupportedCodePage(cp)) {
    // Converted a piece at a time, so the raw text is never whole beside
    // its UTF-8; a double-byte character cut at a piece's end waits for
    // the rest of it. NUL bytes wait until text follows them, as trailing
    // ones are terminators. (The code page is supported: no conversion fails.)
    size_t nuls = 0;
    std::string cut;
    bool first = true;
    Status read = blobs_->ReadPieces(pointer, length, [&](const unsigned char* piece, size_t n) {
      if (first) ReserveForText(cp, length, cell.text);  // the .mb holds `length` bytes
      first = false;
      std::string_view bytes(reinterpret_cast<const char*>(piece), n);
      const size_t last = bytes.find_last_not_of('\0');
      if (last == std::string_view::npos) {
        nuls += n;
        return;
      }
      if (nuls > 0) {
        (void)AppendUtf8(cut, cp, cell.text);  // no character goes on past a NUL
        cut.clear();
        cell.text.append(nuls, '\0');
      }
      bytes = bytes.substr(0, last + 1);
      if (!cut.empty()) {
        cut.append(bytes);
        bytes = cut;
      }
      size_t used = 0;
      (void)AppendUtf8Part(bytes, cp, cell.text, used);
      cut = std::string(bytes.substr(used));
      nuls = n - last - 1;
    });
    (void)AppendUtf8(cut, cp, cell.text);
    if (!read.ok()) cell.text.clear();
    cell.null = !read.ok();
    return read;
  } else {
    CORVANE_RETURN_IF_ERROR(blobs_->Read(pointer, length, blob_bytes_));
    data = reinterpret_cast<const unsigned char*>(blob_bytes_.data());
  }
  cell.null = false;
  Status decoded = Status::Ok();
  if (f.type == FieldType::kMemo) {
    // Some programs end a memo with NUL bytes: terminators, not text.
    uint32_t text_length = length;
    while (text_length > 0 && data[text_length - 1] == 0) --text_length;
    cell.text.reserve(text_length);  // one allocation for text that needs no more
    decoded = AppendUtf8(std::string_view(reinterpret_cast<const char*>(data), text_length),
                         h_.info.code_page, cell.text);
  } else {
    // Formatted memos are Paradox's own rich-text records, not plain text:
    // they are kept byte for byte like the other binary blobs.
    const size_t skip = PrefixToStrip(f.type, data, length);
    AppendHex(data + skip, length - skip, cell.text);
  }
  // A large value's raw bytes are not kept beside its text.
  if (blob_bytes_.capacity() > kKeepBlobBuffer) std::string().swap(blob_bytes_);
  return decoded;
}

TableReader::TableReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TableReader::~TableReader() = default;

Result<std::unique_ptr<TableReader>> TableReader::Open(const std::string& db_path,
                                                       const ReadOptions& options) {
  auto impl = std::make_unique<Impl>();
  CORVANE_RETURN_IF_ERROR(impl->Open(db_path, options));
  return std::unique_ptr<TableReader>(new TableReader(std::move(impl)));
}

Result<TableInfo> TableReader::ReadInfo(const std::string& db_path) {
  Impl impl;
  CORVANE_RETURN_IF_ERROR(impl.OpenHeader(db_path));
  return impl.info();
}

const TableInfo& TableReader::info() const { return impl_->info(); }
Result<bool> TableReader::Next(std::vector<Cell>& row) { return impl_->Next(row); }
uint64_t TableReader::records_read() const { return impl_->records_read(); }
uint64_t TableReader::values_made_null() const { return impl_->values_made_null(); }
void TableReader::BinaryAsBytesFrom(size_t from) { impl_->bytes_from_ = from; }
bool TableReader::broken() const { return impl_->broken(); }
const Status& TableReader::count_status() const { return impl_->count_status(); }

}  // namespace corvane::paradox
