// What both transfer directions share: the names of the data-access type
// codes, the column class that picks a target column type, IfNull, the
// value text and the INSERT statement of one row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "connection/connection.h"
#include "connection/sql_names.h"
#include "connection/value.h"

namespace corvane::transfer {

// The name of an ADO type code ("adInteger" for 3); the empty text for any
// code outside the 39 known ones. The code is read as a 16-bit integer.
std::string FieldTypeName(int16_t code);

// The first of the ten test strings found in the lower-cased type name.
// Declared in test order; kNone when no test matches.
enum class ColumnClass {
  kNone,
  kChar,
  kDecimal,
  kSingle,
  kInt,
  kAdLongVarBinary,
  kLongVar,
  kNumeric,
  kDate,
  kTimestamp,
  kDouble,
};

// The class of a column of type `type_code` (truncated to 16 bits first,
// as the type is read).
ColumnClass ColumnClassOf(int type_code);
// The test string of a class ("char", ...); empty for kNone.
std::string_view ColumnClassName(ColumnClass column_class);

// The text written after a column's name in a PostgreSQL CREATE TABLE: it
// closes the quoted name and adds the type and a comma, e.g. `" NUMERIC,`.
// Timestamps get `" TEXt,`, spelled that way on purpose (same type).
std::string_view PostgresColumnTypeText(ColumnClass column_class);

// `replacement` when `value` is the database null, otherwise `value`.
const Value& IfNull(const Value& value, const Value& replacement);

// The text that stands for a value in a row statement: IfNull with the
// empty text, then the value's text. Empty means it is written NULL.
const std::string& ValueText(const Value& value);

using corvane::QuotePostgresName;
using corvane::QualifiedPostgresName;

// Appends a value literal the way the row statement writes it: every single
// quote doubled, nothing else escaped (the server runs with
// standard_conforming_strings, so a backslash stands for itself).
void AppendQuotedText(std::string& out, std::string_view text);
// The same, in quotes: a whole text literal.
std::string QuotedText(std::string_view text);

// Builds one INSERT statement: `head` must end in "VALUES('". Each empty
// value text becomes NULL, every other one a quoted literal; values are
// separated by ", " and the statement ends in ")" without a semicolon.
class RowStatementBuilder {
 public:
  explicit RowStatementBuilder(std::string& out) : out_(out) {}
  void Begin(std::string_view head);
  void Add(const Value& value);
  void Finish();

 private:
  std::string& out_;
};

// The row statement of the current row of `rows` (precondition: !Eof()).
std::string RowStatement(std::string_view head, const RecordSet& rows);
// The same for values held elsewhere.
std::string RowStatement(std::string_view head, const std::vector<Value>& values);
// Like RowStatement, into `out` (cleared first), reusing its storage.
void BuildRowStatement(std::string& out, std::string_view head, const RecordSet& rows);
void BuildRowStatement(std::string& out, std::string_view head, const std::vector<Value>& values);

// `INSERT INTO "T" VALUES('` for table T, the name quoted as above.
std::string PostgresInsertHead(std::string_view table);

}  // namespace corvane::transfer
