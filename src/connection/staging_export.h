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

// Why `value` cannot go into column `column` (declared `type_word`) of the
// staging table `table`, or Ok: text must be in the export code page and a
// DATETIME must be a date or a date and time a Paradox field holds exactly.
Status CheckStagingValue(const std::string& table, const ColumnDef& column, std::string_view value);

// Writes `e.source` as `<e.folder>/<e.target>.db`. Reads the table twice:
// once to choose the fields, once to write; memory does not grow with it.
// Never replaces a table file already there: that is an error and the
// file stays as it was. The staging table is left in place.
Status ExportStagingTable(StagingDb& db, const ExportStatement& e);

}  // namespace corvane::staging
