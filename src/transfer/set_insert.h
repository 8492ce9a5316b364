// One INSERT that stores many rows into a table this program created with
// TEXT and NUMERIC columns, cheaper for the server to parse than a VALUES
// list: each column travels as one text array and is converted with the
// column type's input function, just as a quoted literal in a single-row
// INSERT is, so the stored values are the same.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "connection/value.h"

namespace corvane::transfer {

// `numeric[c]` tells whether column c was created NUMERIC (else TEXT).
// Rows are the first `row_count` of `rows`, each with one value per column;
// a null or empty value is stored as NULL, as in the row statement.
std::string SetInsertStatement(std::string_view table, const std::vector<bool>& numeric,
                               const std::vector<std::vector<Value>>& rows, size_t row_count);

}  // namespace corvane::transfer
