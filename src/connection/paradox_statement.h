// The two statements a folder of Paradox tables understands, read from SQL
// text: SELECT * FROM "T" (the transfer to PostgreSQL) and DROP TABLE `T`
// (the staging export replacing a table). Keywords in any case, any run of
// blanks between words, one trailing ";" allowed. The name may be written
// between "", ``, [] or bare; between quotes it is taken as written, without
// undoubling, because the callers quote names without escaping them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct ParadoxStatement {
  enum class Kind { kSelectAll, kDropTable };
  Kind kind = Kind::kSelectAll;
  std::string table;
};

// nullopt for any other text, including a second statement after the first.
std::optional<ParadoxStatement> ParseParadoxStatement(std::string_view sql);

}  // namespace corvane
