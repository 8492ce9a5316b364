// The export statement of the staging database: a staging table written as
// a Paradox 5.x table file (plus its .mb for memos and blobs).
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "staging/encoded_rows.h"
#include "staging/staging_db.h"
#include "staging/staging_statements.h"
#include "paradox/code_page.h"
#include "paradox/schema_chooser.h"

namespace corvane::staging {

// What column `column` (declared `type_word`) of staging table `table`
// stores for `value`: the value itself, or for a DATETIME in UTC (the
// PostgreSQL driver reads every timestamptz in UTC) the value without its
// "+00", as a Paradox field has no time zone. Fails, naming the column,
// for text the export code page cannot hold and for a DATETIME that is no
// date or date and time. `datetime` is IsDateTimeColumn(column), told once
// rather than read from the type word for every value.
Result<std::string_view> StagingValue(const std::string& table, const ColumnDef& column,
                                      bool datetime, std::string_view value,
                                      paradox::CodePageChoice& pages);
bool IsDateTimeColumn(const ColumnDef& column);
// What a DATETIME column stores of a value StagingValue took.
std::string_view StoredDateTime(std::string_view value);

// Writes `e.source` as `<e.folder>/<e.target>.db`, in `code_page`, or when
// it is 0 in the first export code page that holds all its text. Reads the
// table twice:
// once to choose the fields, once to write; memory does not grow with it.
// `seen`, when given, has been shown every row of the table as stored, and
// the first reading is left out.
// Never replaces a table file already there (an error; the file stays as
// it was) unless `e.may_replace`: then the old table stays in
// place until the new one is complete, is set aside while the new files
// move in, and is deleted after (or put back should that fail). A stop
// request (StopRequested) ends the export with nothing written. The
// staging table is left in place.
// A staging table with a key gives a keyed table, or, when its rows cannot
// keep the key, one without, and `note` (if given) says why.
// `large_values` false says no value reaches a megabyte, so the rows are
// read plainly. `encoded`, when given, holds every row encoded as `seen`
// saw them: when they suit the fields chosen, the table is not read again.
Status ExportStagingTable(StagingDb& db, const ExportStatement& e, int code_page = 0,
                          const paradox::SchemaChooser* seen = nullptr,
                          std::string* note = nullptr, bool large_values = true,
                          const EncodedRows* encoded = nullptr);

// How the schema chooser sees column `c`: its word, and the exact Paradox
// field its word names, if any ("KEY1 ALPHA(20)" -> Alpha 20, else VARCHAR).
paradox::SchemaChooser::Column ChooserColumnOf(const ColumnDef& c);

}  // namespace corvane::staging
