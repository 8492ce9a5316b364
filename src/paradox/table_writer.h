// Streaming writer of one Paradox 5.x table (.db, plus .mb when it has blob
// fields, plus the primary index .px when it is keyed).
//
// Rows are encoded one by one and written block by block to temporary files
// in the table's folder; only the block being filled is held in memory. The
// header is written last, and the files appear under their real names only
// in Finish(): a failed or interrupted write leaves no table behind, and a
// table that was there stays as it was unless replacing it was allowed.
//
// Values arrive as Cells in the fixed text forms of the data-access layer
// (decimal numbers, True/False, YYYY-MM-DD, HH:MM:SS[.fff], \x hex ...). A
// value is stored exactly or refused: a value the field cannot hold (a
// character the code page lacks, a number out of range or with more digits
// than the field keeps, a text too long) fails that row only, with a message
// naming the field; the table stays valid without the row. Empty texts and
// empty binary values are stored as NULL (Paradox has no empty value).
//
// A keyed table takes its rows in ascending key order (the order of the key
// fields' stored bytes); a row whose key is blank or not above the previous
// one is refused like a value that does not fit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/field_encode.h"
#include "paradox/format.h"
#include "paradox/primary_index.h"
#include "paradox/rule_files.h"

namespace corvane::paradox {

class BlobWriter;
class GatheredWrites;
class TempFile;

class TableWriter {
 public:
  // `db_path` is <folder>/<name>.db (the extension in any case); the .mb, if
  // any, is named alike with the same case. `fields` are checked and their
  // record sizes filled in by NormalizeField. `expected_rows` (0 = unknown)
  // lets the block size grow for tables that would not fit 65535 blocks of
  // 2 KiB; without it such a table fills up and further rows are refused.
  // `key_fields` > 0 makes a keyed table whose first key_fields fields are
  // the key (no blob or Bytes field among them).
  // Errors: bad definitions (kInvalidArgument, naming the field), a field
  // name the code page cannot hold, a missing or read-only folder.
  static Result<std::unique_ptr<TableWriter>> Create(const std::string& db_path,
                                                     std::vector<FieldInfo> fields,
                                                     int code_page = 1252,
                                                     uint64_t expected_rows = 0,
                                                     int key_fields = 0);
  ~TableWriter();  // Abandon() unless Finish() succeeded
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  // Appends one row (one Cell per field). kInvalidArgument: this row was not
  // written (message names the field and why), later rows may be. Any other
  // error (writing failed) is final: every later call returns it.
  Status Append(const std::vector<Cell>& row);
  // The same for a row whose texts live elsewhere (no copy is made).
  Status Append(std::span<const CellView> row);

  enum class Replace { kNever, kAllowed };
  // Completes the files and moves them into place. kNever refuses, leaving
  // everything intact, when any file of a table of that name (.db, .mb, .px,
  // .val ...) exists; kAllowed replaces the table and removes its companions
  // that would no longer match it. After a failure the temporary files are
  // gone and nothing was written under the table's name.
  Status Finish(Replace replace);
  // As Finish(kNever), with `before_place` run once the files are complete
  // and synced, just before they are moved into place (to set an old table
  // aside at the last moment); its failure is Finish's.
  Status Finish(const std::function<Status()>& before_place);
  // Drops the temporary files; the writer can no longer be used.
  void Abandon();

  // The header's Autoincrement counter (the last value handed out) is at
  // least `last`: numbers a copied table handed out before, whose rows are
  // gone, are not handed out again. Without it, the largest value written.
  void RaiseAutoIncrement(uint32_t last) { auto_increment_ = std::max(auto_increment_, last); }

  // Validity checks and secondary indexes to write beside the table; they
  // are placed with it, and a rule the table as written cannot hold is left
  // off and told in rules_left_off() once Finish has run.
  void SetRules(RulesToWrite rules) { rules_ = std::move(rules); }
  const std::vector<std::string>& rules_left_off() const { return rules_left_off_; }

  uint64_t rows_written() const { return rows_; }
  const std::vector<FieldInfo>& fields() const { return fields_; }
  int block_size() const { return block_size_; }

 private:
  TableWriter() = default;
  Status Setup(const std::string& db_path, std::vector<FieldInfo> fields, int code_page,
               uint64_t expected_rows, int key_fields);
  Status CheckKey(std::span<const CellView> row) const;
  Status WriteIndex();
  Status EncodeRow(std::span<const CellView> row);
  Status StoreBlobs(std::span<const CellView> row);
  Status FlushBlock(bool last);
  Status WriteHeader();
  Status WriteRuleFiles();
  bool IsOwnRuleFile(const std::filesystem::path& p) const;
  Status Finish(Replace replace, const std::function<Status()>& before_place);
  Status PlaceFiles(Replace replace);
  Status FieldError(size_t index, const CellView& cell, const Status& why) const;
  CellView Whole(const CellView& cell);

  std::filesystem::path db_path_, mb_path_, px_path_;
  std::vector<FieldInfo> fields_;
  std::vector<int> offsets_;
  std::vector<std::string> names_cp_;
  std::string table_name_cp_;
  int code_page_ = 1252;
  int record_size_ = 0, block_size_ = 0, per_block_ = 0, header_size_ = 0;
  std::unique_ptr<TempFile> db_file_;
  std::unique_ptr<GatheredWrites> db_writes_;  // of db_file_; flushed before it is synced
  std::unique_ptr<BlobWriter> mb_;
  std::unique_ptr<TempFile> px_file_;
  bool has_blobs_ = false, has_auto_increment_ = false;
  int key_fields_ = 0;
  size_t key_size_ = 0;
  std::string last_key_;            // key bytes of the row appended last
  std::vector<IndexEntry> leaves_;  // one per written block
  std::vector<unsigned char> block_, record_;
  std::vector<std::string> payloads_;          // converted blob values
  std::vector<std::string_view> payload_views_;  // this row's: a payload or the cell's text
  std::vector<std::optional<PiecewisePayload>> piecewise_;  // this row's values in pieces
  std::string whole_;  // a value in pieces read whole for a field that is no blob
  std::vector<CellView> views_;  // Append(vector<Cell>)'s row
  int in_block_ = 0;
  uint32_t blocks_ = 0;  // blocks already written
  uint64_t rows_ = 0;
  uint32_t auto_increment_ = 0;
  RulesToWrite rules_;
  std::vector<std::string> rules_left_off_;
  std::vector<std::pair<std::unique_ptr<TempFile>, std::filesystem::path>> rule_files_;
  Status broken_;
  bool done_ = false;
};

}  // namespace corvane::paradox
