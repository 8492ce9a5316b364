// The statement shapes the staging database accepts, read into values.
//
// The staging database takes only what the transfer sends it:
//   CREATE TABLE `S`(`c1` WORD,`c2` WORD);      WORD one of kStagingTypeWords
//   CREATE TABLE `S`(`c1` LONG,`c2` ALPHA(20),PRIMARY KEY(`c1`));
//                                                a Paradox field word (below),
//                                                with the key that goes with it
//   INSERT INTO `S` VALUES('v', NULL, 'O''Brien')
//   DROP TABLE [S]                               (`S` also accepted)
//   select * into [Paradox 5.x;Database=F].[P.db] from [S]
// Keywords match in any case; names are taken verbatim between their quotes
// and may not contain the closing quote. Anything else is refused, so no
// text can reach the database except as a bound value or a quoted name.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "paradox/rule_files.h"

#include "base/status.h"

namespace corvane::staging {

// The column type words, as the staging database stores them.
inline constexpr std::string_view kStagingTypeWords[] = {
    "VARCHAR", "DECIMAL", "INT", "OLEOBJECT", "MEMO", "DATETIME", "FLOAT",
};

// Words naming one Paradox field exactly, for tables whose field types and
// key are kept; those marked sized take "(n)": the Alpha, Bytes or blob
// size, or the BCD scale. AUTOINC may take "(n)": the table's counter.
struct FieldWord {
  std::string_view word;
  bool sized;
};
inline constexpr FieldWord kParadoxFieldWords[] = {
    {"ALPHA", true},    {"SHORT", false},     {"LONG", false},    {"AUTOINC", false},
    {"NUMBER", false},  {"MONEY", false},     {"BCD", true},      {"DATE", false},
    {"TIME", false},    {"TIMESTAMP", false}, {"LOGICAL", false}, {"ALPHAMEMO", false},
    {"MEMOBLOB", true}, {"BINARY", true},     {"FMTMEMO", true},  {"OLE", true},
    {"GRAPHIC", true},  {"BYTES", true},
};

struct ColumnDef {
  std::string name;
  // Upper case: one of kStagingTypeWords, or a Paradox field word with its
  // size ("ALPHA(20)"), led by "KEYn " for the n-th key field.
  std::string type_word;
};

// A column's type word taken apart: the word, its size, its key place.
struct TypeWordParts {
  std::string word;  // "ALPHA"
  int size = -1;     // -1 when unsized
  int key = 0;       // 1-based place in the key, 0 outside it
};
TypeWordParts SplitTypeWord(std::string_view type_word);

struct CreateStatement {
  std::string table;
  std::vector<ColumnDef> columns;
};

struct InsertStatement {
  std::string table;
  std::vector<std::optional<std::string>> values;  // nullopt for NULL
};

struct DropStatement {
  std::string table;
};

struct ExportStatement {
  std::string folder;  // as written after "Database=", separator included
  std::string target;  // P of "[P.db]"
  std::string source;  // the staging table
  // The user agreed that a table already there may be replaced. The
  // statement text never says so.
  bool may_replace = false;
  // Validity checks and indexes to write with the table; never in the text.
  paradox::RulesToWrite rules;
  // Told the rows written against the rows to write, once per batch of rows
  // while they go in; never in the text.
  std::function<void(uint64_t written, uint64_t total)> progress;
};

// What a parsed export would say of `e`: ok, or the syntax error of an
// empty folder, target or source.
Status CheckExport(const ExportStatement& e);

using Statement = std::variant<CreateStatement, InsertStatement, DropStatement, ExportStatement>;

// What reading `INSERT INTO `table` VALUES(...)` says of the name: ok, or
// the syntax error of an empty one (a backquote in it is written doubled).
Status CheckInsertTableName(std::string_view table);

// Reads one statement. A second statement, a shape not listed above or a
// malformed one gives an error whose message says what is wrong.
Result<Statement> ParseStagingStatement(std::string_view sql);

}  // namespace corvane::staging
