#include "connection/staging_export.h"
#include "paradox/code_page.h"
#include "paradox/value_parse.h"

namespace corvane::staging {
namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string Shown(std::string_view value) {
  constexpr size_t kMax = 40;
  std::string out(value.substr(0, kMax));
  if (value.size() > kMax) out += "...";
  return out;
}

}  // namespace

Status CheckStagingValue(const std::string& table, const ColumnDef& column,
                         std::string_view value) {
  if (!IsAscii(value)) {
    auto converted = paradox::FromUtf8(value, kExportCodePage);
    if (!converted.ok()) {
      return Status::InvalidArgument("Column `" + column.name + "` of `" + table +
                                     "` cannot hold this value in a Paradox table (code page " +
                                     std::to_string(kExportCodePage) +
                                     "): " + converted.status().message());
    }
  }
  if (column.type_word == "DATETIME" && !paradox::ParseDate(value) &&
      !paradox::ParseTimestampMs(value)) {
    return Status::InvalidArgument("Column `" + column.name + "` of `" + table + "`: '" +
                                   Shown(value) +
                                   "' is not a date or a date and time that a Paradox field "
                                   "holds exactly (to the millisecond).");
  }
  return Status::Ok();
}

}  // namespace corvane::staging
