// "Keep field types and keys", PostgreSQL -> Paradox: the rules of a
// PostgreSQL table that Paradox can keep, as the table's .val and
// secondary indexes will hold them.
//  - NOT NULL (or CHECK (c IS NOT NULL)) -> required, but for key fields
//    and counters, which need no rule for it;
//  - CHECK (c >= a), (c <= b), (c BETWEEN a AND b), and ANDs of those, as
//    the server prints them back (casts and parentheses included) ->
//    minimum and maximum;
//  - a constant DEFAULT -> default (a sequence's is the Autoincrement's own);
//  - the picture the other direction noted in the column's comment;
//  - a btree index on columns or lower(column), all keys one direction,
//    without WHERE -> a secondary index (case-insensitive for lower(),
//    unique, descending); the primary key's index is the table's key.
// Anything else has no Paradox form: it is named in `left_off` and the
// rows go without it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "connection/connection.h"
#include "paradox/rule_files.h"
#include "transfer/typed_columns.h"

namespace corvane::transfer {

struct PostgresRules {
  paradox::RulesToWrite rules;  // by column name
  std::vector<std::string> left_off;
};

// The rules of `table` (of `schema`; "" for the search path's). Run it
// while no other query of the connection is open.
Result<PostgresRules> ReadPostgresRules(Connection& postgres, const std::string& table,
                                        const std::string& schema = "");

// The rules as the export of the table takes them: under the field names
// `fields` its columns `columns` were given (in the same order).
paradox::RulesToWrite RulesForExport(const PostgresRules& rules,
                                     const std::vector<PostgresColumn>& columns,
                                     const std::vector<std::string>& fields);

// `note` (what the export left out) with a sentence in front naming the
// rules of `left_off` that table `target` goes without.
std::string LeftOffNote(const std::string& target, const std::vector<std::string>& left_off,
                        std::string note);

// The value of a constant expression as the server prints it ("5",
// "'-1.5'::numeric", "('x'::text)::character varying", "true") in the
// fixed text form of cells; nullopt for anything that is not a constant.
std::optional<std::string> ConstantOf(std::string_view expression);

// What a CHECK definition ("CHECK (((n >= 1) AND (n <= 9)))") asks, when
// every part of it has a Paradox form; nullopt otherwise.
struct CheckPart {
  std::string column;
  enum Kind { kMinimum, kMaximum, kRequired } kind = kMinimum;
  std::string value;
};
std::optional<std::vector<CheckPart>> CheckPartsOf(std::string_view definition);

// The column an index key names ("c", "\"Odd Name\"", "lower((c)::text)"),
// and whether through lower(); nullopt for any other expression.
struct IndexKey {
  std::string column;
  bool lowered = false;
};
std::optional<IndexKey> IndexKeyOf(std::string_view key);

}  // namespace corvane::transfer
