// The statement shapes the staging database accepts, read into values.
//
// The staging database takes only what the transfer sends it:
//   CREATE TABLE `S`(`c1` WORD,`c2` WORD);      WORD one of kStagingTypeWords
//   INSERT INTO `S` VALUES('v', NULL, 'O''Brien')
//   DROP TABLE [S]                               (`S` also accepted)
//   select * into [Paradox 5.x;Database=F].[P.db] from [S]
// Keywords match in any case; names are taken verbatim between their quotes
// and may not contain the closing quote. Anything else is refused, so no
// text can reach the database except as a bound value or a quoted name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/status.h"

namespace corvane::staging {

// The column type words, as the staging database stores them.
inline constexpr std::string_view kStagingTypeWords[] = {
    "VARCHAR", "DECIMAL", "INT", "OLEOBJECT", "MEMO", "DATETIME", "FLOAT",
};

struct ColumnDef {
  std::string name;
  std::string type_word;  // upper case, one of kStagingTypeWords
};

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
};

using Statement = std::variant<CreateStatement, InsertStatement, DropStatement, ExportStatement>;

// What reading `INSERT INTO `table` VALUES(...)` says of the name: ok, or
// the syntax error of an empty one (a backquote in it is written doubled).
Status CheckInsertTableName(std::string_view table);

// Reads one statement. A second statement, a shape not listed above or a
// malformed one gives an error whose message says what is wrong.
Result<Statement> ParseStagingStatement(std::string_view sql);

}  // namespace corvane::staging
