#include "transfer/set_insert.h"

#include "transfer/field_types.h"

namespace corvane::transfer {

namespace {

// One array element inside a SQL string literal: NULL bare, anything else
// in double quotes with the array's own escapes (\ and "), and every single
// quote doubled for the surrounding literal.
void AppendElement(std::string& out, const Value& value) {
  const std::string& text = ValueText(value);
  if (text.empty()) {
    out += "NULL";
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '"';
}

void AppendColumnArray(std::string& out, const std::vector<std::vector<Value>>& rows,
                       size_t row_count, size_t column) {
  out += "'{";
  for (size_t r = 0; r < row_count; ++r) {
    if (r > 0) out += ',';
    AppendElement(out, rows[r][column]);
  }
  out += "}'::text[]";
}

}  // namespace

std::string SetInsertStatement(std::string_view table, const std::vector<bool>& numeric,
                               const std::vector<std::vector<Value>>& rows, size_t row_count) {
  const size_t columns = numeric.size();
  std::string out = "INSERT INTO " + QuotePostgresName(table) + " SELECT ";
  for (size_t c = 0; c < columns; ++c) {
    if (c > 0) out += ", ";
    out += "c" + std::to_string(c) + (numeric[c] ? "::numeric" : "::text");
  }
  out += " FROM unnest(";
  for (size_t c = 0; c < columns; ++c) {
    if (c > 0) out += ", ";
    AppendColumnArray(out, rows, row_count, c);
  }
  out += ") AS u(";
  for (size_t c = 0; c < columns; ++c) out += (c > 0 ? ", c" : "c") + std::to_string(c);
  out += ')';
  return out;
}

}  // namespace corvane::transfer
