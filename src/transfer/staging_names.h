// The staging database as the transfer to Paradox sees it: where it is, the
// table test, and the texts of the statements only it runs.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "connection/connection.h"
#include "transfer/field_types.h"

namespace corvane::transfer {

// The text written after a column's name in the staging CREATE TABLE: it
// closes the backquoted name and adds the type word and a comma, e.g.
// "` INT,". No word carries a length; the export picks the field sizes.
std::string_view StagingColumnTypeText(ColumnClass column_class);

// `name` for use between backquotes: each backquote doubled, so a name
// holding one stays one name.
std::string DoubleBackquotes(std::string_view name);

// <program folder>/dbtemp.mdb
std::string StagingDatabasePath(const std::string& program_folder);

// True when the connection's table list (OpenSchema 20) holds a row of type
// "TABLE" whose name equals `name` after both are upper-cased. Views and
// other entries never match. Errors of the list pass to the caller.
Result<bool> ExistTable(Connection& connection, const std::string& name);

// Collapses separators in a path, as defined on backslashes: a leading run
// of one or more becomes exactly two; elsewhere each pair becomes one, pairs
// taken left to right without overlap (three in a row become two).
// `separator` is the character this is applied to: '\\' as defined, '/' for
// this platform's folders.
std::string CollapseBackslashes(std::string_view path, char separator = '\\');

// The export folder text: the Paradox folder, one separator, collapsed.
std::string ExportFolderText(const std::string& paradox_folder, char separator = '/');

// `text` for use between brackets: each "]" doubled.
std::string DoubleClosingBrackets(std::string_view text);

// select * into [Paradox 5.x;Database=F].[P.db] from [S], "]" doubled in each.
std::string ExportStatementText(const std::string& folder_text, const std::string& target,
                                const std::string& source);

// DROP TABLE [S], "]" doubled.
std::string StagingDropText(const std::string& source);

}  // namespace corvane::transfer
