#include "base/utf8.h"
#include "staging/staging_export.h"
#include "paradox/code_page.h"
#include "paradox/value_parse.h"

namespace corvane::staging {
namespace {

std::string Shown(std::string_view value) {
  constexpr size_t kMax = 40;
  std::string out(value.substr(0, kMax));
  if (value.size() > kMax) out += "...";
  return out;
}

// A date or a date and time, also one finer than the millisecond, which a
// Timestamp field cannot hold but a text field can (the export decides).
bool IsDateOrDateTime(std::string_view value) {
  if (paradox::ParseDate(value) || paradox::ParseTimestampMs(value)) return true;
  std::string_view core = value;
  const bool bc = core.ends_with(" BC");
  if (bc) core.remove_suffix(3);
  constexpr size_t kMsEnd = 23;  // YYYY-MM-DD HH:MM:SS.fff
  if (core.size() <= kMsEnd || core[19] != '.') return false;
  for (char c : core.substr(20)) {
    if (c < '0' || c > '9') return false;
  }
  std::string check(core.substr(0, kMsEnd));
  if (bc) check += " BC";
  return paradox::ParseTimestampMs(check).has_value();
}

}  // namespace

// "…+00" (the form of a timestamptz read in UTC) without the offset.
std::string_view StoredDateTime(std::string_view value) {
  for (std::string_view suffix : {"+00", "+00:00"}) {
    if (value.size() > 19 && value.ends_with(suffix)) {
      return value.substr(0, value.size() - suffix.size());
    }
  }
  return value;
}

bool IsDateTimeColumn(const ColumnDef& column) {
  return SplitTypeWord(column.type_word).word == "DATETIME";
}

Result<std::string_view> StagingValue(const std::string& table, const ColumnDef& column,
                                      bool datetime, std::string_view value,
                                      paradox::CodePageChoice& pages) {
  if (!utf8::IsAscii(value)) {
    Status admitted = pages.Admit(value);
    if (!admitted.ok()) {
      return Status::InvalidArgument("Column `" + column.name + "` of `" + table +
                                     "` cannot hold this value in a Paradox table: " +
                                     admitted.message() + ".");
    }
  }
  if (!datetime) return value;
  const std::string_view local = StoredDateTime(value);
  if (!IsDateOrDateTime(local)) {
    return Status::InvalidArgument("Column `" + column.name + "` of `" + table + "`: '" +
                                   Shown(value) + "' is not a date or a date and time.");
  }
  return local;
}

}  // namespace corvane::staging
