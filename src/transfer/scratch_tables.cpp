#include "transfer/scratch_tables.h"

#include <charconv>
#include <vector>

#include "connection/sql_names.h"

namespace corvane::transfer {

namespace {

constexpr std::string_view kMarker = "corvane~";
// The advisory lock space of the scratch tables' owners ("CvSc"); the
// backend pid is the second key.
constexpr int kScratchLockClass = 0x43765363;

// The longest prefix of `text` of at most `bytes` bytes that ends between
// two UTF-8 characters.
std::string_view ClipUtf8(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

// `pid`: a number, or SQL that gives one.
std::string LockArguments(const std::string& pid) {
  return std::to_string(kScratchLockClass) + ", " + pid;
}

struct Leftover {
  std::string quoted;  // schema-qualified
  int owner = 0;
};

Result<std::vector<Leftover>> ListScratchTables(Connection& postgres) {
  auto r = postgres.LookUp(
      "SELECT quote_ident(n.nspname) || '.' || quote_ident(c.relname), c.relname "
      "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
      "WHERE c.relkind IN ('r', 'p') AND c.relname LIKE 'corvane~%'");
  if (!r.ok()) return r.status();
  std::vector<Leftover> out;
  for (RecordSet& rs = *r.value(); !rs.Eof(); (void)rs.MoveNext()) {
    const int owner = ScratchTableOwner(rs.FieldValue(1).text());
    if (owner > 0) out.push_back({rs.FieldValue(0).text(), owner});
  }
  return out;
}

// True when this session now holds the lock of `pid` (its owner is gone).
bool TakeOwnersLock(Connection& postgres, int pid) {
  auto r =
      postgres.LookUp("SELECT pg_try_advisory_lock(" + LockArguments(std::to_string(pid)) + ")");
  return r.ok() && !r.value()->Eof() && r.value()->FieldValue(0).text() == "True";
}

}  // namespace

std::string ScratchTableName(int pid, std::string_view table) {
  std::string name = std::string(kMarker) + std::to_string(pid) + "~";
  name += ClipUtf8(table, kPostgresNameBytes - name.size());
  return name;
}

Result<int> ClaimScratchTables(Connection& postgres) {
  // Another run clearing a dead namesake's table holds the lock for a moment.
  auto claimed = postgres.LookUp("SELECT pg_backend_pid(), pg_advisory_lock(" +
                                 LockArguments("pg_backend_pid()") + ")");
  if (!claimed.ok()) return claimed.status();
  if (claimed.value()->Eof()) return Status::Internal("The server did not tell its process id.");
  int pid = 0;
  const std::string text = claimed.value()->FieldValue(0).text();
  std::from_chars(text.data(), text.data() + text.size(), pid);
  auto leftovers = ListScratchTables(postgres);
  if (!leftovers.ok()) return leftovers.status();
  for (const Leftover& t : leftovers.value()) {
    // Ours can only be an earlier session's under the same pid. Another
    // owner's lock taken here is given back once its table is gone; a
    // table we may not drop stays for its owner.
    const bool ours = t.owner == pid;
    if (!ours && !TakeOwnersLock(postgres, t.owner)) continue;
    (void)postgres.Execute("DROP TABLE IF EXISTS " + t.quoted);
    if (!ours)
      (void)postgres.LookUp("SELECT pg_advisory_unlock(" + LockArguments(std::to_string(t.owner)) +
                            ")");
  }
  return pid;
}

std::string PostgresDerivedName(std::string_view table, std::string_view column,
                                std::string_view label) {
  size_t overhead = label.size() + 1 + (column.empty() ? 0 : 1);
  const size_t room = kPostgresNameBytes - overhead;
  size_t a = table.size(), b = column.size();
  while (a + b > room) {
    if (a > b) {
      --a;
    } else {
      --b;
    }
  }
  std::string name(ClipUtf8(table, a));
  if (!column.empty()) name += "_" + std::string(ClipUtf8(column, b));
  return name + "_" + std::string(label);
}

}  // namespace corvane::transfer
