#include "connection/sql_names.h"

#include <charconv>

namespace corvane {
namespace {

std::string DoubleQuoted(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '"';
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace

std::string QuotePostgresName(std::string_view name) { return DoubleQuoted(name); }

namespace {
constexpr std::string_view kScratchMarker = "corvane~";
}  // namespace

int ScratchTableOwner(std::string_view name) {
  if (name.substr(0, kScratchMarker.size()) != kScratchMarker) return 0;
  name.remove_prefix(kScratchMarker.size());
  int pid = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (ec != std::errc() || end == name.data() || end == name.data() + name.size() || *end != '~')
    return 0;
  return pid;
}

std::string QualifiedPostgresName(std::string_view schema, std::string_view name) {
  if (schema.empty()) return QuotePostgresName(name);
  return QuotePostgresName(schema) + "." + QuotePostgresName(name);
}

// SQLite takes the standard form too.
std::string QuoteSqliteName(std::string_view name) { return DoubleQuoted(name); }

Status CheckPostgresName(const std::string& name, const std::string& what) {
  if (name.size() <= kPostgresNameBytes) return Status::Ok();
  return Status::InvalidArgument(what + " \"" + name + "\" is " + std::to_string(name.size()) +
                                 " bytes long; PostgreSQL names hold at most " +
                                 std::to_string(kPostgresNameBytes) +
                                 " bytes, and nothing was sent.");
}

}  // namespace corvane
