// Outline: Create checks the fields, sizes the record and the blocks and
// opens the temporary files. Append encodes the whole row first (so a value
// the field cannot hold costs nothing), then stores its blobs, then adds the
// record to the block in memory; a full block is written when the next row
// needs room, so its "next block" link is known. Finish writes the last
// block, the header and the .mb tail, syncs, and renames into place.
#include "paradox/table_writer.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "base/utf8.h"
#include "paradox/blob_writer.h"
#include "paradox/code_page.h"
#include "paradox/companion_files.h"
#include "paradox/field_encode.h"
#include "paradox/gathered_writes.h"
#include "paradox/header_encode.h"
#include "paradox/temp_file.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxFields = 255;
constexpr uint32_t kMaxBlocks = 0xFFFF;  // block numbers are u16
constexpr size_t kMaxHeaderSize = 0xFFFF;
constexpr size_t kShownValueBytes = 60;
// A value given in pieces whose payload is no larger is made whole: it may
// share a block of the .mb or fit the record.
constexpr uint64_t kSmallPayload = 64 << 10;
// Level 5 allows these block sizes; 2 and 4 KiB are what tools expect, the
// larger ones only serve records or tables that need them.
constexpr int kBlockSizesKiB[] = {2, 4, 16, 32};

int RowsPerBlock(int block_size, int record_size) {
  return (block_size - kBlockHeaderSize) / record_size;
}

// The smallest block size that holds a record and `rows` rows; 0 if none.
int ChooseBlockSize(int record_size, uint64_t rows) {
  for (int kib : kBlockSizesKiB) {
    const int size = kib * 1024;
    if (size - kBlockHeaderSize < record_size) continue;
    if (rows <= uint64_t{kMaxBlocks} * RowsPerBlock(size, record_size)) return size;
  }
  return 0;
}

// The value as shown in a message: quoted, cut on a character boundary.
std::string Shown(const CellView& cell) {
  std::string text(cell.text.substr(0, kShownValueBytes + 1));
  if (cell.pieces) {
    text.resize(static_cast<size_t>(std::min<uint64_t>(kShownValueBytes + 1, cell.pieces->size())));
    if (!cell.pieces->Read(0, text.size(), text.data()).ok()) text.clear();
  }
  if (text.size() > kShownValueBytes) {
    size_t cut = kShownValueBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "...";
  }
  return "\"" + text + "\"";
}

// ".db" -> ".mb" or ".px", keeping the letter case.
fs::path CompanionPathFor(const fs::path& db_path, char first, char second) {
  std::string name = db_path.filename().string();
  char& d = name[name.size() - 2];
  char& b = name[name.size() - 1];
  const bool upper = d == 'D';
  d = upper ? first : static_cast<char>(first - 'A' + 'a');
  b = upper ? second : static_cast<char>(second - 'A' + 'a');
  return db_path.parent_path() / name;
}


Status CheckFields(std::vector<FieldInfo>& fields) {
  if (fields.empty()) return Status::InvalidArgument("a Paradox table needs at least one field");
  if (fields.size() > kMaxFields) {
    return Status::InvalidArgument("a Paradox table has at most 255 fields, not " +
                                   std::to_string(fields.size()));
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldInfo& f = fields[i];
    if (f.name.empty())
      return Status::InvalidArgument("field " + std::to_string(i + 1) + " has no name");
    Status st = NormalizeField(f);
    if (!st.ok()) return Status::InvalidArgument("field \"" + f.name + "\": " + st.message());
    for (size_t j = 0; j < i; ++j) {
      if (SameNameIgnoringCase(fields[j].name, f.name)) {
        return Status::InvalidArgument("two fields are named \"" + f.name + "\"");
      }
    }
  }
  return Status::Ok();
}

}  // namespace

Result<std::unique_ptr<TableWriter>> TableWriter::Create(const std::string& db_path,
                                                         std::vector<FieldInfo> fields,
                                                         int code_page, uint64_t expected_rows,
                                                         int key_fields) {
  std::unique_ptr<TableWriter> w(new TableWriter());
  Status st = w->Setup(db_path, std::move(fields), code_page, expected_rows, key_fields);
  if (st.ok()) return w;
  // File errors name the file already; definition errors get it here.
  const bool named =
      st.code() != Status::Code::kInvalidArgument && st.code() != Status::Code::kNotSupported;
  return named ? st : Status::Error(st.code(), "Cannot write " + db_path + ": " + st.message());
}

Status TableWriter::Setup(const std::string& db_path, std::vector<FieldInfo> fields, int code_page,
                          uint64_t expected_rows, int key_fields) {
  fs::path path(db_path);
  std::string ext = path.extension().string();
  if (path.stem().empty() || ext.size() != 3 || !SameNameIgnoringCase(ext, ".db")) {
    return Status::InvalidArgument("a Paradox table file name ends in .db");
  }
  db_path_ = (path.has_parent_path() ? path.parent_path() : fs::path(".")) / path.filename();
  mb_path_ = CompanionPathFor(db_path_, 'M', 'B');
  px_path_ = CompanionPathFor(db_path_, 'P', 'X');
  if (!IsSupportedCodePage(code_page)) {
    return Status::NotSupported("code page " + std::to_string(code_page) + " is not supported");
  }
  code_page_ = code_page;
  CORVANE_RETURN_IF_ERROR(CheckFields(fields));
  CORVANE_RETURN_IF_ERROR(CheckKeyFields(fields, key_fields, code_page));
  key_fields_ = key_fields;
  for (int i = 0; i < key_fields; ++i) key_size_ += static_cast<size_t>(fields[i].size);
  fields_ = std::move(fields);
  for (const FieldInfo& f : fields_) {
    auto name = FromUtf8(f.name, code_page_);
    if (!name.ok())
      return Status::InvalidArgument("field name \"" + f.name + "\": " + name.status().message());
    offsets_.push_back(record_size_);
    record_size_ += f.size;
    has_blobs_ = has_blobs_ || IsBlobType(f.type);
    has_auto_increment_ = has_auto_increment_ || f.type == FieldType::kAutoIncrement;
    names_cp_.push_back(std::move(name.value()));
  }
  auto table_name = FromUtf8(db_path_.filename().string(), code_page_);
  if (table_name.ok()) table_name_cp_ = *table_name;  // informational only
  block_size_ = ChooseBlockSize(record_size_, expected_rows);
  if (block_size_ == 0 && ChooseBlockSize(record_size_, 0) == 0) {
    return Status::InvalidArgument("a record of " + std::to_string(record_size_) +
                                   " bytes is wider than a Paradox table allows");
  }
  if (block_size_ == 0) {
    return Status::InvalidArgument(std::to_string(expected_rows) + " rows of " +
                                   std::to_string(record_size_) +
                                   " bytes do not fit a Paradox table");
  }
  per_block_ = RowsPerBlock(block_size_, record_size_);
  CORVANE_RETURN_IF_ERROR(WriteHeader());  // sizes the header; rewritten by Finish
  block_.assign(static_cast<size_t>(block_size_), 0);
  record_.assign(static_cast<size_t>(record_size_), 0);
  payloads_.resize(fields_.size());
  payload_views_.resize(fields_.size());
  piecewise_.resize(fields_.size());
  return Status::Ok();
}

TableWriter::~TableWriter() {
  if (!done_) Abandon();
}

Status TableWriter::WriteHeader() {
  DbHeader h;
  h.fields = fields_;
  h.field_names = names_cp_;
  h.table_name = table_name_cp_;
  h.code_page = code_page_;
  h.block_size_kib = block_size_ / 1024;
  h.record_count = static_cast<uint32_t>(rows_);
  h.blocks = static_cast<uint16_t>(blocks_);
  h.auto_increment = auto_increment_;
  h.update_time = static_cast<uint32_t>(std::time(nullptr));
  h.key_fields = key_fields_;
  const std::string bytes = EncodeDbHeader(h);
  if (bytes.size() > kMaxHeaderSize) {
    return Status::InvalidArgument("the field names are too long for a Paradox header");
  }
  if (!db_file_) {  // first call, from Setup: open the files now the sizes are known
    header_size_ = static_cast<int>(bytes.size());
    auto file = TempFile::Create(db_path_);
    if (!file.ok()) return file.status();
    db_file_ = std::move(file.value());
    db_writes_ = std::make_unique<GatheredWrites>(*db_file_);
    if (std::any_of(fields_.begin(), fields_.end(),
                    [](const FieldInfo& f) { return IsBlobType(f.type); })) {
      auto mb_file = TempFile::Create(mb_path_);
      if (!mb_file.ok()) return mb_file.status();
      auto mb = BlobWriter::Create(std::move(mb_file.value()));
      if (!mb.ok()) return mb.status();
      mb_ = std::move(mb.value());
    }
  }
  return db_writes_->Write(0, bytes.data(), bytes.size());
}

Status TableWriter::FieldError(size_t index, const CellView& cell, const Status& why) const {
  return Status::InvalidArgument(db_path_.filename().string() + ": field \"" + fields_[index].name +
                                 "\" (" + TypeLabel(fields_[index].type) + ") cannot hold " +
                                 Shown(cell) + ": " + why.message());
}

Status TableWriter::EncodeRow(std::span<const CellView> row) {
  std::fill(record_.begin(), record_.end(), 0);
  for (size_t i = 0; i < fields_.size(); ++i) {
    const FieldInfo& f = fields_[i];
    if (!IsBlobType(f.type)) {
      if (row[i].encoded) {
        std::memcpy(record_.data() + offsets_[i], row[i].encoded, static_cast<size_t>(f.size));
        continue;
      }
      Status st = EncodeScalar(f, Whole(row[i]), code_page_, record_.data() + offsets_[i]);
      if (!st.ok()) return FieldError(i, row[i], st);
      continue;
    }
    piecewise_[i].reset();
    if (row[i].pieces && !row[i].null) {
      auto measured = PiecewisePayload::Measure(f, *row[i].pieces, code_page_);
      if (!measured.ok()) {
        if (measured.status().code() != Status::Code::kInvalidArgument) return measured.status();
        return FieldError(i, row[i], measured.status());
      }
      piecewise_[i].emplace(std::move(measured).value());
      payloads_[i].clear();
      payload_views_[i] = std::string_view();
      if (piecewise_[i]->size() <= kSmallPayload) {  // stored like any other
        Status made = piecewise_[i]->Produce([&](std::string_view piece) {
          payloads_[i].append(piece);
          return Status::Ok();
        });
        if (!made.ok()) return made;
        payload_views_[i] = payloads_[i];
        piecewise_[i].reset();
        continue;
      }
      if (piecewise_[i]->size() > BlobWriter::kMaxBlobSize) {
        return FieldError(i, row[i], Status::InvalidArgument(
                                         "it is " + std::to_string(piecewise_[i]->size()) +
                                         " bytes and a Paradox blob holds at most " +
                                         std::to_string(BlobWriter::kMaxBlobSize)));
      }
      continue;
    }
    if (f.type == FieldType::kMemo && !row[i].null && utf8::IsAscii(row[i].text)) {
      // ASCII is itself in every code page: a memo, however large, is not copied.
      payloads_[i].clear();
      payload_views_[i] = row[i].text;
    } else {
      auto payload = BlobPayload(f, row[i], code_page_);
      if (!payload.ok()) return FieldError(i, row[i], payload.status());
      payloads_[i] = std::move(payload.value());
      payload_views_[i] = payloads_[i];
    }
    if (payload_views_[i].size() > BlobWriter::kMaxBlobSize) {
      return FieldError(i, row[i],
                        Status::InvalidArgument("it is " +
                                                std::to_string(payload_views_[i].size()) +
                                                " bytes and a Paradox blob holds at most " +
                                                std::to_string(BlobWriter::kMaxBlobSize)));
    }
  }
  return Status::Ok();
}

// A value in pieces for a field that is no blob (it cannot fit one, but
// says so as any other value would): read whole.
CellView TableWriter::Whole(const CellView& cell) {
  if (!cell.pieces || cell.null) return cell;
  whole_.resize(static_cast<size_t>(cell.pieces->size()));
  if (!cell.pieces->Read(0, whole_.size(), whole_.data()).ok()) whole_.clear();
  return CellView(false, whole_);
}

Status TableWriter::StoreBlobs(std::span<const CellView> row) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const FieldInfo& f = fields_[i];
    if (const auto& p = piecewise_[i]; p && p->size() > 0) {
      auto added = mb_->AddPieces(p->size(), [&](const auto& write) { return p->Produce(write); });
      if (!added.ok()) {
        if (added.status().code() != Status::Code::kInvalidArgument) return added.status();
        return FieldError(i, row[i], added.status());
      }
      EncodeBlobReference(f, p->head(), p->size(), *added, record_.data() + offsets_[i]);
      continue;
    }
    const std::string_view payload = payload_views_[i];
    if (!IsBlobType(f.type) || payload.empty()) continue;
    uint32_t pointer = 0;
    if (BlobNeedsMbFile(f, payload)) {
      auto added = mb_->Add(payload);
      if (!added.ok()) {
        if (added.status().code() != Status::Code::kInvalidArgument) return added.status();
        return FieldError(i, row[i], added.status());
      }
      pointer = *added;
    }
    EncodeBlobReference(f, payload, pointer, record_.data() + offsets_[i]);
  }
  return Status::Ok();
}

Status TableWriter::Append(const std::vector<Cell>& row) {
  views_.assign(row.begin(), row.end());
  return Append(std::span<const CellView>(views_));
}

Status TableWriter::Append(std::span<const CellView> row) {
  if (done_) return Status::Internal("the table writer was already finished");
  if (!broken_.ok()) return broken_;
  if (row.size() != fields_.size()) {
    return Status::InvalidArgument(db_path_.filename().string() + ": a row of " +
                                   std::to_string(row.size()) + " values for " +
                                   std::to_string(fields_.size()) + " fields");
  }
  CORVANE_RETURN_IF_ERROR(EncodeRow(row));
  CORVANE_RETURN_IF_ERROR(CheckKey(row));
  if (in_block_ == per_block_) {
    if (blocks_ + 2 > kMaxBlocks) {
      return Status::InvalidArgument(db_path_.filename().string() +
                                     " is full: a Paradox table of " +
                                     std::to_string(block_size_ / 1024) + " KiB blocks holds " +
                                     std::to_string(uint64_t{kMaxBlocks} * per_block_) + " rows");
    }
    broken_ = FlushBlock(false);
    if (!broken_.ok()) return broken_;
  }
  Status st = has_blobs_ ? StoreBlobs(row) : Status::Ok();
  if (!st.ok()) {
    if (st.code() != Status::Code::kInvalidArgument) broken_ = st;
    return st;
  }
  std::memcpy(&block_[kBlockHeaderSize + static_cast<size_t>(in_block_) * record_size_],
              record_.data(), record_.size());
  ++in_block_;
  ++rows_;
  if (key_fields_ > 0) last_key_.assign(reinterpret_cast<const char*>(record_.data()), key_size_);
  for (size_t i = 0; has_auto_increment_ && i < fields_.size(); ++i) {
    if (fields_[i].type != FieldType::kAutoIncrement || row[i].null || row[i].text.empty())
      continue;
    int64_t v = DecodeFlippedInt(record_.data() + offsets_[i], 4);
    if (v > 0) auto_increment_ = std::max(auto_increment_, static_cast<uint32_t>(v));
  }
  return Status::Ok();
}

// Keys arrive in ascending order, so the records stay sorted across the
// chain as a keyed table's must; the encoded bytes sort like the values.
Status TableWriter::CheckKey(std::span<const CellView> row) const {
  if (key_fields_ == 0) return Status::Ok();
  for (size_t i = 0; i < static_cast<size_t>(key_fields_); ++i) {
    if (row[i].null || row[i].text.empty()) {
      return FieldError(i, row[i], Status::InvalidArgument("a key field may not be blank"));
    }
  }
  if (rows_ > 0 && std::memcmp(record_.data(), last_key_.data(), key_size_) <= 0) {
    return Status::InvalidArgument(db_path_.filename().string() +
                                   ": a row whose key is not above the previous row's key");
  }
  return Status::Ok();
}

Status TableWriter::FlushBlock(bool last) {
  const uint32_t number = blocks_ + 1;
  if (key_fields_ > 0) {
    leaves_.push_back(
        {std::string(reinterpret_cast<const char*>(&block_[kBlockHeaderSize]), key_size_),
         static_cast<uint16_t>(number), static_cast<uint32_t>(in_block_)});
  }
  unsigned char* h = block_.data();
  StoreLe16(h, static_cast<uint16_t>(last ? 0 : number + 1));
  StoreLe16(h + 2, static_cast<uint16_t>(number - 1));
  StoreLe16(h + 4, static_cast<uint16_t>((in_block_ - 1) * record_size_));
  // Unused tail bytes are zero, never an earlier block's records.
  std::fill(block_.begin() + kBlockHeaderSize + static_cast<size_t>(in_block_) * record_size_,
            block_.end(), 0);
  const uint64_t at = static_cast<uint64_t>(header_size_) + uint64_t{blocks_} * block_size_;
  CORVANE_RETURN_IF_ERROR(db_writes_->Write(at, block_.data(), block_.size()));
  ++blocks_;
  in_block_ = 0;
  return Status::Ok();
}

Status TableWriter::Finish(Replace replace) { return Finish(replace, nullptr); }

Status TableWriter::Finish(const std::function<Status()>& before_place) {
  return Finish(Replace::kNever, before_place);
}

Status TableWriter::Finish(Replace replace, const std::function<Status()>& before_place) {
  if (done_) return Status::Internal("the table writer was already finished");
  Status st = broken_;
  if (st.ok() && in_block_ > 0) st = FlushBlock(true);
  if (st.ok()) st = WriteHeader();
  if (st.ok()) st = db_writes_->Flush();
  if (st.ok() && mb_) st = mb_->Finish();
  if (st.ok() && key_fields_ > 0) st = WriteIndex();
  if (st.ok() && !rules_.empty()) st = WriteRuleFiles();
  if (st.ok()) st = db_file_->Sync();
  if (st.ok() && mb_) st = mb_->file().Sync();
  if (st.ok() && before_place) st = before_place();
  if (st.ok()) st = PlaceFiles(replace);
  Abandon();  // what was published is no longer temporary; the rest goes
  return st;
}

Status TableWriter::WriteIndex() {
  PrimaryIndexSpec spec;
  spec.key_fields.assign(fields_.begin(), fields_.begin() + key_fields_);
  auto name = FromUtf8(px_path_.filename().string(), code_page_);
  if (name.ok()) spec.file_name = *name;
  spec.version_byte = 0x0B;
  spec.sort_order = SortOrderFor(code_page_, fields_, key_fields_).code;
  auto bytes = EncodePrimaryIndex(spec, leaves_);
  if (!bytes.ok()) return bytes.status();
  auto file = TempFile::Create(px_path_);
  if (!file.ok()) return file.status();
  px_file_ = std::move(file.value());
  CORVANE_RETURN_IF_ERROR(px_file_->WriteAt(0, bytes->data(), bytes->size()));
  return px_file_->Sync();
}

Status TableWriter::PlaceFiles(Replace replace) {
  const fs::path folder = db_path_.parent_path();
  const std::string stem = db_path_.stem().string();
  const bool allowed = replace == Replace::kAllowed;
  if (!allowed) {
    auto existing = TableFiles(folder, stem);
    if (!existing.empty()) {
      return Status::InvalidArgument("Cannot write " + db_path_.string() +
                                     ": the folder already holds " +
                                     existing.front().filename().string() +
                                     " of a table of that name, which was left as it is");
    }
  }
  std::vector<std::pair<const TempFile*, fs::path>> companions;
  if (mb_) companions.emplace_back(&mb_->file(), mb_path_);
  if (px_file_) companions.emplace_back(px_file_.get(), px_path_);
  for (const auto& [file, path] : rule_files_) companions.emplace_back(file.get(), path);
  std::unique_ptr<TempFile> record;
  if (!allowed && !companions.empty()) {
    auto recorded = RecordCompanions(db_path_, companions);
    if (!recorded.ok()) return recorded.status();
    record = std::move(recorded).value();
  }
  if (mb_) CORVANE_RETURN_IF_ERROR(mb_->file().Publish(mb_path_, allowed));
  Status st = px_file_ ? px_file_->Publish(px_path_, allowed) : Status::Ok();
  const bool px_published = px_file_ && st.ok();
  size_t rules_published = 0;
  while (st.ok() && rules_published < rule_files_.size()) {
    const auto& [file, path] = rule_files_[rules_published];
    st = file->Publish(path, allowed);
    if (st.ok()) ++rules_published;
  }
  if (st.ok()) st = db_file_->Publish(db_path_, allowed);
  if (!st.ok()) {
    // Ours: without replacing, they could not have replaced anything.
    std::error_code ec;
    if (mb_ && !allowed) fs::remove(mb_path_, ec);
    if (px_published && !allowed) fs::remove(px_path_, ec);
    for (size_t i = 0; i < rules_published && !allowed; ++i) fs::remove(rule_files_[i].second, ec);
    return st;
  }
  std::string left;
  for (const fs::path& p : allowed ? TableFiles(folder, stem) : std::vector<fs::path>{}) {
    std::error_code ec;
    if (fs::equivalent(p, db_path_, ec) || (mb_ && fs::equivalent(p, mb_path_, ec)) ||
        (px_file_ && fs::equivalent(p, px_path_, ec)) || IsOwnRuleFile(p)) {
      continue;
    }
    if (!fs::remove(p, ec) && ec) left += (left.empty() ? "" : ", ") + p.filename().string();
  }
  Status synced = SyncFolder(folder);
  if (record) record->Discard();  // the table file stands: its companions are its own
  if (!left.empty()) {
    return Status::IoError("Wrote " + db_path_.string() + " but could not remove the old " + left);
  }
  return synced;
}

void TableWriter::Abandon() {
  done_ = true;
  mb_.reset();
  px_file_.reset();
  rule_files_.clear();
  db_writes_.reset();  // writes to db_file_
  db_file_.reset();
}

}  // namespace corvane::paradox
