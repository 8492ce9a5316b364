// Export outline: check that the folder has no table of the target name;
// read the staging table once so the schema chooser sees every value; read
// it again and append each row to the writer; move the files into place
// only if still no table of that name appeared meanwhile.
// A staging table with a key (its columns' words name Paradox fields and
// key places) becomes a keyed table: key fields first, and the rows read in
// the order of their stored key bytes, sorted by SQLite in a scratch file
// so memory does not grow. Where the key cannot be kept (a blank or
// repeated key, a key field that became a blob) the table is written
// without one and the note says why.
#include "staging/staging_export.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "base/row_batches.h"
#include "base/served_call.h"
#include "base/stop_request.h"
#include "paradox/companion_files.h"
#include "paradox/field_encode.h"
#include "paradox/header_encode.h"
#include "paradox/schema_chooser.h"
#include "paradox/table_lock.h"
#include "paradox/table_set_aside.h"
#include "paradox/table_writer.h"
#include "staging/export_rows.h"

namespace corvane::staging {
namespace {

namespace fs = std::filesystem;

Status CheckTarget(const fs::path& folder, const std::string& target, bool replace) {
  // The name becomes a file name in the folder: it may not lead elsewhere.
  if (target.find('/') != std::string::npos || target.find('\0') != std::string::npos ||
      target == "." || target == "..") {
    return Status::InvalidArgument("'" + target +
                                   "' cannot be the name of a Paradox table file: a name may "
                                   "not hold \"/\" or be \".\" or \"..\".");
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return Status::NotFound("The Paradox folder '" + folder.string() + "' does not exist.");
  }
  auto files = replace ? std::vector<fs::path>{} : paradox::TableFiles(folder, target);
  if (!files.empty()) {
    return Status::InvalidArgument(
        "The Paradox folder already holds a table named " + target + " (" +
        files.front().filename().string() +
        "); it was left as it was and this table was not written. Another table may have "
        "been cut to the same 8-character name.");
  }
  return Status::Ok();
}

// The field a Paradox field word names, and the usual word to fall back on
// when that field cannot hold every value.
struct WordMeaning {
  paradox::FieldType type;
  const char* fallback;
};
std::optional<WordMeaning> MeaningOf(const std::string& word) {
  using paradox::FieldType;
  static const std::pair<const char*, WordMeaning> kMeanings[] = {
      {"ALPHA", {FieldType::kAlpha, "VARCHAR"}},
      {"SHORT", {FieldType::kShort, "DECIMAL"}},
      {"LONG", {FieldType::kLong, "DECIMAL"}},
      {"AUTOINC", {FieldType::kAutoIncrement, "DECIMAL"}},
      {"NUMBER", {FieldType::kNumber, "FLOAT"}},
      {"MONEY", {FieldType::kMoney, "FLOAT"}},
      {"BCD", {FieldType::kBcd, "DECIMAL"}},
      {"DATE", {FieldType::kDate, "DATETIME"}},
      {"TIME", {FieldType::kTime, "VARCHAR"}},
      {"TIMESTAMP", {FieldType::kTimestamp, "DATETIME"}},
      {"LOGICAL", {FieldType::kLogical, "VARCHAR"}},
      {"MEMOBLOB", {FieldType::kMemo, "MEMO"}},
      {"BINARY", {FieldType::kBinary, "OLEOBJECT"}},
      {"FMTMEMO", {FieldType::kFormattedMemo, "OLEOBJECT"}},
      {"OLE", {FieldType::kOle, "OLEOBJECT"}},
      {"GRAPHIC", {FieldType::kGraphic, "OLEOBJECT"}},
      {"BYTES", {FieldType::kBytes, "OLEOBJECT"}},
  };
  for (const auto& [name, meaning] : kMeanings) {
    if (word == name) return meaning;
  }
  return std::nullopt;
}

}  // namespace

paradox::SchemaChooser::Column ChooserColumnOf(const ColumnDef& c) {
  const TypeWordParts parts = SplitTypeWord(c.type_word);
  const std::optional<WordMeaning> meaning = MeaningOf(parts.word);
  if (!meaning) return {c.name, parts.word};
  paradox::FieldInfo f{c.name, meaning->type, 0, 0};
  // AUTOINC(n) gives the counter (AutoIncrementCounter), not a size.
  if (f.type != paradox::FieldType::kAutoIncrement) {
    (f.type == paradox::FieldType::kBcd ? f.scale : f.size) = std::max(parts.size, 0);
  }
  return {c.name, meaning->fallback, f};
}

namespace {

// The chooser shown every row: `seen`, or one that reads the table now.
Result<paradox::SchemaChooser> Learn(StagingDb& db, const std::string& table,
                                     const std::vector<ColumnDef>& columns, int code_page,
                                     const paradox::SchemaChooser* seen) {
  if (seen) return *seen;
  std::vector<paradox::SchemaChooser::Column> defs;
  for (const ColumnDef& c : columns) defs.push_back(ChooserColumnOf(c));
  paradox::SchemaChooser chooser(std::move(defs), code_page);
  std::vector<std::string_view> texts(columns.size());
  const RowShape shape = ShapeFor(columns, true);  // filled elsewhere: any value may be large
  CORVANE_RETURN_IF_ERROR(ForEachRow(db, table,
                                     SelectInInsertOrder(table, RowNumberName(columns), shape),
                                     shape, columns.size(), {}, false, [&](const auto& row) {
                                       for (size_t i = 0; i < row.size(); ++i)
                                         texts[i] = row[i].null ? "" : row[i].text;
                                       chooser.Observe(std::span<const std::string_view>(texts));
                                       return Status::Ok();
                                     }));
  return chooser;
}


// Moves the new files in, the old table set aside meanwhile: deleted once
// the new one stands, put back when it could not take its place.
Status PlaceReplacing(paradox::TableWriter& writer, const fs::path& folder,
                      const std::string& target) {
  std::unique_ptr<paradox::TableSetAside> old_table;
  Status placed = writer.Finish([&]() -> Status {
    if (StopRequested()) return Interrupted(target);
    if (paradox::DroppableTableFiles(folder, target).empty())
      return Status::Ok();                                                 // gone meanwhile
    CORVANE_RETURN_IF_ERROR(paradox::CheckTableNotInUse(folder, target));  // opened meanwhile
    auto aside = paradox::TableSetAside::Create(folder, target);
    if (!aside.ok()) return aside.status();
    old_table = std::move(aside).value();
    return Status::Ok();
  });
  if (!old_table) return placed;
  if (placed.ok()) return old_table->Discard();
  Status restored = old_table->Restore();
  if (restored.ok()) return placed;
  return Status::Error(placed.code(), placed.message() + " " + restored.message());
}

// One sentence for the rules `target` went without.
void AppendRulesLeftOff(const std::string& target, const std::vector<std::string>& left_off,
                        std::string& note) {
  if (left_off.empty()) return;
  note += (note.empty() ? "" : " ") + target + " was written without these rules, which it " +
          "cannot hold as written:";
  for (const std::string& line : left_off) note += " " + line + ";";
  note.back() = '.';
}

}  // namespace

// The failure of row `number`, which the staging database took, so that
// leaving it out would lose it.
Status RowNotWritten(const Status& why, uint64_t number, const std::string& source,
                     const fs::path& db_path) {
  return Status::Error(why.code(), "Row " + std::to_string(number) + " of `" + source +
                                       "` cannot be written to " + db_path.string() + ": " +
                                       why.message() + " No table file was written.");
}

namespace {

// Counts rows, and calls `e.progress` once per batch of them, so that
// telling costs a row no more than a count.
void TellProgress(const ExportStatement& e, uint64_t written, uint64_t total) {
  if (written % BatchPipe::kRowsPerBatch == 0 && e.progress) e.progress(written, total);
}

}  // namespace

// The rows kept encoded into a new table file. Not ok with `redo` set when
// they could not all go in as they are: the table is then written from the
// staging table, which says which row and why as it always does.
// `columns` are the fields in staging column order, `fields` in table
// order (key fields first), `order` staging column i -> field order[i]
// (empty: the same order).
Status WriteEncoded(StagingDb& db, const ExportStatement& e, const fs::path& db_path,
                    const std::vector<paradox::FieldInfo>& columns,
                    const std::vector<paradox::FieldInfo>& fields,
                    const std::vector<size_t>& order, int key_fields, int code_page,
                    uint64_t rows, const EncodedRows& encoded,
                    std::unique_ptr<paradox::TableWriter>& writer, bool& redo) {
  redo = false;
  auto made = paradox::TableWriter::Create(db_path.string(), fields, code_page, rows, key_fields);
  if (!made.ok()) return made.status();
  writer = std::move(made).value();
  uint64_t number = 0;
  Status final_failure = Status::Ok();
  std::vector<paradox::CellView> placed(order.size());
  Status written = encoded.ForEach(columns, [&](std::span<const paradox::CellView> row) -> Status {
    ++number;
    if (!order.empty()) {
      for (size_t i = 0; i < row.size(); ++i) placed[order[i]] = row[i];
      row = placed;
    }
    Status s = writer->Append(row);
    if (!s.ok()) {
      if (s.code() == Status::Code::kInvalidArgument) return s;
      return final_failure = RowNotWritten(s, number, e.source, db_path);
    }
    if (StopRequested()) return final_failure = Interrupted(e.source);
    TellProgress(e, number, rows);
    // As often as the rows read from the file would serve it.
    if (number % BatchPipe::kRowsPerBatch == 0 && db.serve()) db.serve()();
    return Status::Ok();
  });
  if (written.ok()) return written;
  writer->Abandon();
  writer.reset();
  redo = final_failure.ok();
  return final_failure.ok() ? written : final_failure;
}

namespace {

// The Autoincrement counter AUTOINC(n) words ask for, where the field
// chosen is one (`fields` in staging column order); 0 when none does.
uint32_t AutoIncrementCounter(const std::vector<ColumnDef>& columns,
                              const std::vector<paradox::FieldInfo>& fields) {
  uint32_t counter = 0;
  for (size_t i = 0; i < columns.size() && i < fields.size(); ++i) {
    const TypeWordParts parts = SplitTypeWord(columns[i].type_word);
    if (parts.word == "AUTOINC" && parts.size > 0 &&
        fields[i].type == paradox::FieldType::kAutoIncrement) {
      counter = std::max(counter, static_cast<uint32_t>(parts.size));
    }
  }
  return counter;
}

}  // namespace

Status ExportStagingTable(StagingDb& db, const ExportStatement& e, int code_page,
                          const paradox::SchemaChooser* seen, std::string* note,
                          bool large_values, const EncodedRows* encoded) {
  auto columns = db.Columns(e.source);
  if (!columns.ok()) return columns.status();
  if (columns->empty()) {
    return Status::NotFound("The staging database has no table `" + e.source + "`.");
  }
  const fs::path folder(e.folder);
  const bool replace = e.may_replace;
  CORVANE_RETURN_IF_ERROR(CheckTarget(folder, e.target, replace));
  auto chooser = Learn(db, e.source, *columns, code_page, seen);
  if (!chooser.ok()) return chooser.status();
  chooser->AdmitName(e.target);  // the header holds the table's name too
  const uint64_t rows = chooser->rows_observed();
  code_page = chooser->code_page();
  std::vector<paradox::FieldInfo> fields = chooser->Choose();
  const uint32_t counter = AutoIncrementCounter(*columns, fields);

  const std::vector<size_t> key = KeyColumns(*columns);
  const RowShape shape = ShapeFor(*columns, large_values);
  const std::string row_number = RowNumberName(*columns);
  std::string select = SelectInInsertOrder(e.source, row_number, shape);
  bool insert_order = true;   // the rows are written as they were stored
  const std::vector<paradox::FieldInfo> columns_fields = fields;
  std::vector<size_t> order;  // staging column i -> field order[i]
  std::optional<KeySort> sort;  // lives until the rows are written
  if (!key.empty()) {
    auto sorted = SortByKey(db, e.source, fields, key, code_page, sort.emplace(db));
    if (!sorted.ok()) return sorted.status();
    if (sorted->why_not.empty()) {
      // Key fields first, in key order; the others keep theirs.
      std::vector<size_t> fields_from(key);
      for (size_t i = 0; i < fields.size(); ++i) {
        if (std::find(key.begin(), key.end(), i) == key.end()) fields_from.push_back(i);
      }
      order.resize(fields.size());
      std::vector<paradox::FieldInfo> reordered;
      for (size_t place = 0; place < fields_from.size(); ++place) {
        order[fields_from[place]] = place;
        reordered.push_back(fields[fields_from[place]]);
      }
      fields = std::move(reordered);
      if (!sorted->in_order) {
        select = SelectInKeyOrder(e.source, row_number, shape);
        insert_order = false;
      }
    } else if (note) {
      *note = e.target + " was written without a key: " + sorted->why_not + ".";
    }
  }
  const int key_fields = order.empty() ? 0 : static_cast<int>(key.size());
  const fs::path db_path = folder / (e.target + ".db");
  auto finish = [&](paradox::TableWriter& writer) {
    writer.RaiseAutoIncrement(counter);
    writer.SetRules(e.rules);
    // Placing the files syncs them to disk first.
    Status placed =
        replace ? CallServed([&] { return PlaceReplacing(writer, folder, e.target); }, db.serve())
                : CallServed([&] { return writer.Finish(paradox::TableWriter::Replace::kNever); },
                             db.serve());
    if (placed.ok() && note) AppendRulesLeftOff(e.target, writer.rules_left_off(), *note);
    return placed;
  };
  if (insert_order && encoded && encoded->Serves(columns_fields, rows)) {
    std::unique_ptr<paradox::TableWriter> writer;
    bool redo = false;
    Status written = WriteEncoded(db, e, db_path, columns_fields, fields, order, key_fields,
                                  code_page, rows, *encoded, writer, redo);
    if (written.ok()) return finish(*writer);
    if (!redo) return written;
  }
  auto writer = paradox::TableWriter::Create(db_path.string(), std::move(fields), code_page,
                                             rows, key_fields);
  if (!writer.ok()) return writer.status();
  uint64_t number = 0;
  Status written =
      ForEachRow(db, e.source, select, shape, columns->size(), order, true,
                 [&](const auto& row) -> Status {
        ++number;
        Status s = (*writer)->Append(row);
        if (!s.ok()) return RowNotWritten(s, number, e.source, db_path);
        TellProgress(e, number, rows);
        return s;
      });
  sort.reset();
  if (!written.ok()) {
    (*writer)->Abandon();
    return written;
  }
  return finish(**writer);
}

}  // namespace corvane::staging
