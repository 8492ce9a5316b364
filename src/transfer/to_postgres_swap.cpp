// The scratch table of a copy into PostgreSQL: where the rows go, and how
// the filled table takes its name in one transaction (scratch_tables.h).
#include <string>

#include "connection/connection.h"
#include "transfer/field_types.h"
#include "transfer/handler_steps.h"
#include "transfer/scratch_tables.h"
#include "transfer/to_postgres_handler.h"
#include "ui/procedure.h"

namespace corvane::transfer {

using namespace to_postgres_step;  // the steps a failure dialog names

// Where the rows go: a scratch table for a new table or one the user
// agreed to replace; the existing table itself when the list did not show
// it (its CREATE fails, and the rows go where its columns take them).
// False, with the table left alone, when nothing may be written: a table
// that could not be dropped, or a name that is not a table at all.
bool ToPostgres::ChooseTarget(const std::string& table, bool asked, bool replace) {
  table_ = table;
  scratch_ = true;
  replace_ = replace;
  target_ = ScratchTableName(scratch_pid_, table);
  if (replace) return true;
  std::string kind;
  const bool alive = StepOnServer(kCreate, [&]() -> Status {
    auto r = postgres_.LookUp(
        "SELECT relkind::text FROM pg_class WHERE relnamespace = current_schema()::regnamespace "
        "AND relname = " +
        QuotedText(table));
    if (!r.ok()) return r.status();
    if (!r.value()->Eof()) kind = r.value()->FieldValue(0).text();
    r.value()->Close();
    if (kind.empty() || kind == "r" || kind == "p") return Status::Ok();
    const std::string what = kind == "v"   ? "a view"
                             : kind == "m" ? "a materialized view"
                             : kind == "f" ? "a foreign table"
                             : kind == "S" ? "a sequence"
                                           : "not a table";
    return Status::InvalidArgument("PostgreSQL's " + table + " is " + what +
                                   ", not a table: no row was sent to it.");
  });
  if (!alive || (kind != "" && kind != "r" && kind != "p")) return false;
  if (kind.empty()) return true;
  if (asked) return false;  // its drop was refused and said so; it stays as it was
  scratch_ = false;
  target_ = table;
  return true;
}

// Whether the table can be dropped, found by dropping it in a transaction
// that is rolled back: the old table stays until the new one is whole.
Status ToPostgres::TryDrop(const std::string& table) {
  CORVANE_RETURN_IF_ERROR(postgres_.Execute("BEGIN").status());
  Status dropped = rules_.DropNotedReferences();
  if (dropped.ok()) dropped = postgres_.Execute("DROP TABLE " + QuotePostgresName(table)).status();
  Status back = postgres_.Execute("ROLLBACK").status();
  return dropped.ok() ? back : dropped;
}

// The new table takes its name, in place of the old one, in one
// transaction: another session sees the old table or the new one, each
// with the foreign keys other tables have to it.
bool ToPostgres::PutInPlace(const std::string& table, bool replace) {
  int line = kCreate;  // a refusal is shown where the drop's or the create's was
  Status st = postgres_.Execute("BEGIN").status();
  if (st.ok() && replace) {
    st = rules_.DropNotedReferences();
    if (st.ok()) st = postgres_.Execute("DROP TABLE " + QuotePostgresName(table)).status();
    if (!st.ok()) line = kDropOld;
  }
  if (st.ok()) {
    st = postgres_
             .Execute("ALTER TABLE " + QuotePostgresName(target_) + " RENAME TO " +
                      QuotePostgresName(table))
             .status();
  }
  // Names are a nicety: a clash keeps the scratch table's own.
  if (st.ok() && layout_ && postgres_.Execute("SAVEPOINT corvane_names").ok()) {
    const Status named = NameAfterTable(table);
    (void)postgres_.Execute(named.ok() ? "RELEASE SAVEPOINT corvane_names"
                                       : "ROLLBACK TO SAVEPOINT corvane_names");
  }
  if (st.ok() && replace) st = rules_.PutBackNotedReferences();
  if (st.ok()) st = postgres_.Execute("COMMIT").status();
  if (!st.ok() && !IsConnectionLost(st)) (void)postgres_.Execute("ROLLBACK");
  rules_.EndNotedReferences(st.ok());
  RefreshStatement();
  StepOnServer(line, [&] { return st; });
  return st.ok();
}

// A key or an identity column made on the scratch table was named after
// it; they take the names they would have had under the table's own.
Status ToPostgres::NameAfterTable(const std::string& table) {
  const std::string quoted = QuotePostgresName(table);
  const std::string relation = QuotedText(quoted) + "::regclass";
  std::vector<std::string> renames;
  auto keys = postgres_.LookUp(
      "SELECT conname FROM pg_constraint WHERE contype = 'p' AND conrelid = " + relation);
  if (!keys.ok()) return keys.status();
  for (RecordSet& rs = *keys.value(); !rs.Eof(); (void)rs.MoveNext()) {
    renames.push_back("ALTER TABLE " + quoted + " RENAME CONSTRAINT " +
                      QuotePostgresName(rs.FieldValue(0).text()) + " TO " +
                      QuotePostgresName(PostgresDerivedName(table, "", "pkey")));
  }
  keys.value()->Close();
  const std::string sequence = "pg_get_serial_sequence(" + QuotedText(quoted) + ", attname)";
  auto sequences = postgres_.LookUp(
      "SELECT attname, " + sequence + " FROM pg_attribute WHERE attrelid = " + relation +
      " AND attnum > 0 AND NOT attisdropped AND " + sequence + " IS NOT NULL");
  if (!sequences.ok()) return sequences.status();
  for (RecordSet& rs = *sequences.value(); !rs.Eof(); (void)rs.MoveNext()) {
    renames.push_back(
        "ALTER SEQUENCE " + rs.FieldValue(1).text() + " RENAME TO " +
        QuotePostgresName(PostgresDerivedName(table, rs.FieldValue(0).text(), "seq")));
  }
  sequences.value()->Close();
  for (const std::string& sql : renames) CORVANE_RETURN_IF_ERROR(postgres_.Execute(sql).status());
  return Status::Ok();
}

// Without a connection the scratch table stays, and the next copy to find
// its session gone drops it.
void ToPostgres::DropScratch() {
  if (lost_ || !created_) return;
  (void)postgres_.Execute("DROP TABLE IF EXISTS " + QuotePostgresName(target_));
}

}  // namespace corvane::transfer
