// The export statement of the staging database: a staging table written as
// a Paradox 5.x table file (plus its .mb for memos and blobs).
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "connection/staging_db.h"
#include "connection/staging_statements.h"

namespace corvane::staging {

// The code page of the tables the export writes; the staging database
// refuses text this code page cannot hold, row by row, before the export.
inline constexpr int kExportCodePage = 1252;

// What column `column` (declared `type_word`) of staging table `table`
// stores for `value`: the value itself, or for a DATETIME in UTC (the
// PostgreSQL driver reads every timestamptz in UTC) the value without its
// "+00", as a Paradox field has no time zone. Fails, naming the column,
// for text the export code page cannot hold and for a DATETIME that is no
// date or date and time.
Result<std::string_view> StagingValue(const std::string& table, const ColumnDef& column,
                                      std::string_view value);

// Writes `e.source` as `<e.folder>/<e.target>.db`. Reads the table twice:
// once to choose the fields, once to write; memory does not grow with it.
// Never replaces a table file already there: that is an error and the
// file stays as it was. The staging table is left in place.
// A staging table with a key gives a keyed table, or, when its rows cannot
// keep the key, one without, and `note` (if given) says why.
Status ExportStagingTable(StagingDb& db, const ExportStatement& e, std::string* note = nullptr);

}  // namespace corvane::staging
