// "Keep field types and keys": the column types, keys and the notes on
// columns that carry a Paradox table's layout into PostgreSQL and back.
//
// Paradox -> PostgreSQL: each field becomes the type that holds all its
// values exactly (Alpha varchar(n), Short smallint, Long integer,
// Autoincrement integer with an identity sequence, Number and Money double
// precision, BCD numeric(32,s), Date date, Time time(3), Timestamp
// timestamp(3), Logical boolean, Memo text, the other blobs and Bytes
// bytea), the key fields the primary key. Where the type alone does not
// tell the field (Money, Autoincrement, Memo and the blobs with their
// sizes, Bytes) the column's comment names it: "Paradox type $",
// "Paradox type M 20".
//
// PostgreSQL -> Paradox: the column's type (and such a comment) names the
// Paradox field in the staging CREATE TABLE; the export keeps it where it
// holds every value and otherwise picks as without the option.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "connection/connection.h"
#include "paradox/format.h"

namespace corvane::transfer {

// The layout of Paradox table `table` in `folder` (matched as the Paradox
// connection matches it).
Result<paradox::TableInfo> ReadParadoxLayout(const std::string& folder, const std::string& table);

// The PostgreSQL type of a Paradox field ("varchar(20)", "numeric(32,2)").
std::string PostgresTypeOf(const paradox::FieldInfo& field);
// "Paradox type $" where the type alone does not tell the field; else "".
std::string ParadoxTypeComment(const paradox::FieldInfo& field);
// A field's picture is kept as a line of its comment, after the type line.
inline constexpr const char* kPictureCommentHead = "Paradox picture: ";

// CREATE TABLE "T"("A" varchar(20),...); without the key, which is added
// once the rows are in (one check instead of one per row).
std::string TypedCreateStatement(const std::string& table, const paradox::TableInfo& layout);
// What follows the rows, in order: the primary key, the comments, the
// identity sequence set past the largest Autoincrement value.
std::vector<std::string> TypedFinishStatements(const std::string& table,
                                               const paradox::TableInfo& layout);

// A PostgreSQL column as its table's catalog describes it.
struct PostgresColumn {
  std::string name;
  std::string type;      // format_type(): "character varying(20)", "numeric(12,2)"
  std::string comment;   // "" without one
  int key_position = 0;  // 1-based place in the primary key, 0 outside it
  // The last value its identity or serial sequence handed out; 0 when it
  // has none, none was handed out, or it cannot be read.
  int64_t sequence_last = 0;
};

// The columns of `table` (of `schema`; "" for the search path's) in column
// order. Run it while no other query of the connection is open.
Result<std::vector<PostgresColumn>> ReadPostgresColumns(Connection& postgres,
                                                        const std::string& table,
                                                        const std::string& schema = "");

// The staging type word naming the Paradox field for a column ("ALPHA(20)",
// "BCD(2)", "DATE"), or the usual word of its column class when no field
// is named. `usual` is that word ("VARCHAR", ...). An Autoincrement field
// carries its sequence's last value ("AUTOINC(44)"), which becomes the
// table's counter, so Paradox does not hand out a number used before.
std::string StagingTypeWordOf(const PostgresColumn& column, const std::string& usual);

}  // namespace corvane::transfer
