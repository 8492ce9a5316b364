// Names too long for the other side. Paradox table names hold at most 8
// characters, counted as UTF-16 code units (as the system the names come
// from counts them). PostgreSQL names hold at most 63 bytes; the server cuts
// a longer one without a word, so a rename would land on another name and
// two long column names could become one. Such names are refused first.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/utf8.h"
#include "connection/connection.h"
#include "connection/sql_names.h"

namespace corvane::transfer {

inline constexpr size_t kParadoxNameUnits = 8;

// Names are counted and cut in UTF-16 code units (see base/utf8.h).
using utf8::FirstUtf16Units;
using utf8::UpperCase;
using utf8::Utf16Length;

// The "Continue?" question for a name longer than 8 units.
std::string TrimQuestionText(const std::string& name);

using corvane::CheckPostgresName;
using corvane::kPostgresNameBytes;

// The names a CREATE TABLE of `table` with the columns of `rows` would send.
Status CheckPostgresTableNames(const std::string& table, const RecordSet& rows);

// Paradox field names: at most 25 characters; no [ ] { } ( ) and no "->";
// not "#" alone; no leading blank; not empty; unique ignoring case.
inline constexpr size_t kParadoxFieldNameUnits = 25;

// What keeps `name` from being a Paradox field name ("" when nothing does),
// apart from being unique.
std::string ParadoxFieldNameRule(const std::string& name);

// Ok when every name of `names` (the columns of `table`, in order) can be
// a Paradox field name; else an error naming the first that cannot and the
// rule it breaks. (Names equal ignoring case are the staging table's to
// refuse.)
Status CheckParadoxFieldNames(const std::string& table, const std::vector<std::string>& names);

// A valid field name for each of `names`, distinct ignoring case: a name
// that is valid and not taken by an earlier one is kept as it is.
std::vector<std::string> ValidParadoxFieldNames(const std::vector<std::string>& names);

}  // namespace corvane::transfer
