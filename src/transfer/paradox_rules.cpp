// Outline. Per table, once its rows are in: read its .val and indexes,
// turn each rule into a Rule (the statement, its NOT VALID form or what
// stands in for it, and a query for one row that breaks it), and apply it:
// add it, and when the rows break it find one that does, say so and run
// the weaker form. References wait in a list until the run
// ends; each then finds its parent among the run's tables or on the server.
#include "transfer/paradox_rules.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "paradox/table_rules.h"
#include "transfer/field_types.h"
#include "transfer/typed_columns.h"

namespace corvane::transfer {
namespace {

using paradox::FieldInfo;
using paradox::FieldType;
using paradox::TableInfo;

constexpr const char* kTag = "Form2.PushButton4_Click";
constexpr int kRuleLine = 188;                    // a table's rules, after its rows
constexpr int kKeyLine = 200;                     // the foreign keys, after the last table

bool IsText(FieldType t) { return t == FieldType::kAlpha || t == FieldType::kMemo; }

std::string Joined(const std::vector<std::string>& parts, const std::string& sep) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : sep) + p;
  return out;
}

std::string OneBreakingRow(const std::string& quoted_table, const std::string& where) {
  return "SELECT t::text FROM " + quoted_table + " t WHERE " + where + " LIMIT 1";
}

// "primary.db", "C:\data\primary.DB" -> "primary".
std::string TableNameOfFile(const std::string& file) {
  std::string name = file.substr(file.find_last_of("\\/") + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && ui::LowerCase(name.substr(dot)) == ".db") name.resize(dot);
  return name;
}

// The field a number names: by the header's numbers where it has them,
// else by position (tables never restructured number their fields 1..n).
std::optional<std::string> FieldOfNumber(const TableInfo& layout, int number) {
  const std::vector<uint16_t>& numbers = layout.field_numbers;
  for (size_t i = 0; i < numbers.size() && numbers.size() == layout.fields.size(); ++i) {
    if (numbers[i] == number) return layout.fields[i].name;
  }
  if (!numbers.empty() || number < 1 || number > static_cast<int>(layout.fields.size())) {
    return std::nullopt;
  }
  return layout.fields[static_cast<size_t>(number - 1)].name;
}

std::vector<RuleKeeper::Rule> FieldRules(const std::string& table, const TableInfo& layout,
                                         const paradox::FieldRule& r) {
  std::vector<RuleKeeper::Rule> out;
  const FieldInfo& f = layout.fields[static_cast<size_t>(r.field)];
  const std::string q = QuotePostgresName(table);
  const std::string c = QuotePostgresName(f.name);
  const std::string alter = "ALTER TABLE " + q;
  if (r.required) {
    out.push_back({"NOT NULL on " + c + " of " + table,
                   alter + " ALTER COLUMN " + c + " SET NOT NULL", "",
                   OneBreakingRow(q, "t." + c + " IS NULL"), ""});
  }
  if (r.minimum || r.maximum) {
    std::vector<std::string> bounds;
    if (r.minimum) bounds.push_back(c + " >= " + QuotedText(*r.minimum));
    if (r.maximum) bounds.push_back(c + " <= " + QuotedText(*r.maximum));
    const std::string check = "CHECK (" + Joined(bounds, " AND ") + ")";
    out.push_back({check + " on " + table, alter + " ADD " + check,
                   alter + " ADD " + check + " NOT VALID",
                   OneBreakingRow(q, "NOT (" + Joined(bounds, " AND ") + ")"), ""});
  }
  // An Autoincrement column takes its values from its identity.
  if (r.default_value && f.type != FieldType::kAutoIncrement) {
    out.push_back({"DEFAULT of " + c + " of " + table,
                   alter + " ALTER COLUMN " + c + " SET DEFAULT " + QuotedText(*r.default_value),
                   "", "", ""});
  }
  if (!r.picture.empty()) {
    const std::string type = ParadoxTypeComment(f);
    const std::string comment = (type.empty() ? "" : type + "\n") + kPictureCommentHead + r.picture;
    out.push_back({"the picture of " + c + " of " + table,
                   "COMMENT ON COLUMN " + q + "." + c + " IS " + QuotedText(comment), "", "", ""});
  }
  return out;
}

RuleKeeper::Rule IndexRule(const std::string& table, const TableInfo& layout,
                           const paradox::SecondaryIndex& x) {
  std::vector<std::string> keys, terms, present;
  for (int f : x.fields) {
    const FieldInfo& field = layout.fields[static_cast<size_t>(f)];
    std::string term = QuotePostgresName(field.name);
    if (x.case_insensitive && IsText(field.type)) term = "lower(" + term + ")";
    keys.push_back(term + (x.descending ? " DESC" : ""));
    present.push_back(term + " IS NOT NULL");
    terms.push_back(std::move(term));
  }
  const std::string q = QuotePostgresName(table);
  const std::string name = QuotePostgresName(table + "_" + x.name);
  const std::string plain = "CREATE INDEX " + name + " ON " + q + "(" + Joined(keys, ",") + ")";
  if (!x.unique) return {"index " + name + " on " + table, plain, "", "", ""};
  // Rows with a NULL in the index never collide.
  const std::string group = Joined(terms, ",");
  return {"UNIQUE index " + name + " on " + table,
          "CREATE UNIQUE INDEX " + name + " ON " + q + "(" + Joined(keys, ",") + ")", "",
          "SELECT row(" + group + ")::text FROM " + q + " WHERE " + Joined(present, " AND ") +
              " GROUP BY " + group + " HAVING count(*) > 1 LIMIT 1",
          plain};
}

}  // namespace

RuleKeeper::RuleKeeper(Connection& postgres, ui::Dialogs& dialogs, ui::Procedure& proc,
                       std::string& statement)
    : postgres_(postgres), dialogs_(dialogs), proc_(proc), statement_(statement) {}

void RuleKeeper::AddTableRules(const std::string& table, const TableInfo& layout) {
  copied_.emplace_back(table, layout);
  const paradox::TableRules rules = paradox::ReadTableRules(layout);
  for (const std::string& problem : rules.problems) {
    dialogs_.Message("A rule file of Paradox table " + table + " could not be read, and " + table +
                     " goes without its rules: " + problem);
  }
  if (rules.validity) {
    for (const paradox::FieldRule& r : rules.validity->rules) {
      for (const Rule& rule : FieldRules(table, layout, r)) Apply(rule, kRuleLine);
    }
    Queue(table, layout, *rules.validity);
  }
  for (const paradox::SecondaryIndex& x : rules.indexes) {
    Apply(IndexRule(table, layout, x), kRuleLine);
  }
}

void RuleKeeper::QueueReferences(const std::string& table, const TableInfo& layout) {
  copied_.emplace_back(table, layout);
  const paradox::TableRules rules = paradox::ReadTableRules(layout);
  if (rules.validity) Queue(table, layout, *rules.validity);
}

// Lookup tables and references, each a foreign key to add at the end.
void RuleKeeper::Queue(const std::string& table, const TableInfo& layout,
                       const paradox::Validity& validity) {
  const std::string folder = std::filesystem::path(layout.path).parent_path().string();
  for (const paradox::FieldRule& r : validity.rules) {
    if (r.lookup_table.empty()) continue;
    pending_.push_back({table,
                        {layout.fields[static_cast<size_t>(r.field)].name},
                        TableNameOfFile(r.lookup_table),
                        {},
                        false,
                        folder});
  }
  for (const paradox::Reference& ref : validity.references) {
    PendingKey key{
        table, {}, TableNameOfFile(ref.parent_table), ref.parent_fields, ref.cascade_update,
        folder};
    for (int f : ref.fields) key.columns.push_back(layout.fields[static_cast<size_t>(f)].name);
    pending_.push_back(std::move(key));
  }
}

void RuleKeeper::AddReferences() {
  for (const PendingKey& key : pending_) AddKey(key);
  pending_.clear();
}

// Rules mostly hold: each is added as it is, and only when the server
// says the rows break it (class 23) is one such row asked for and the
// weaker form run. Either way the check costs one scan of the table.
void RuleKeeper::Apply(const Rule& rule, int line) {
  if (gone_) return;  // the lost connection was shown once
  statement_ = rule.add;
  proc_.Step(line, [&]() -> Status {
    Status st = postgres_.Execute(rule.add).status();
    gone_ = IsConnectionLost(st);
    if (st.fault() == SqlFault::kNoUniqueParent) {
      dialogs_.Message(rule.what + " is left off: " + st.message());
      return Status::Ok();
    }
    if (st.ok() || st.fault() != SqlFault::kRulesBroken) return st;
    if (rule.broken.empty() && rule.unchecked.empty()) return st;
    std::string row;
    if (!rule.broken.empty()) {
      statement_ = rule.broken;
      auto r = postgres_.Execute(rule.broken);
      gone_ = IsConnectionLost(r.status());
      if (!r.ok()) return r.status();
      if (!(*r)->Eof()) row = (*r)->FieldValue(0).text();
      (*r)->Close();
    }
    const std::string& weaker = rule.unchecked.empty() ? rule.instead : rule.unchecked;
    if (!rule.unchecked.empty()) {
      dialogs_.Message(rule.what + " is added NOT VALID, so it binds new rows only: " +
                       (row.empty() ? "rows" : "the row " + row) + " break" +
                       (row.empty() ? "" : "s") + " it.");
    } else {
      dialogs_.Message(rule.what + " is left off" +
                       (rule.instead.empty() ? "" : " (a plain index is made instead)") +
                       ": the row " + row + " breaks it.");
    }
    if (weaker.empty()) return Status::Ok();
    statement_ = weaker;
    st = postgres_.Execute(weaker).status();
    gone_ = IsConnectionLost(st);
    return st;
  });
}

void RuleKeeper::AddKey(const PendingKey& key) {
  if (gone_) return;
  std::vector<std::string> columns;
  for (const std::string& c : key.columns) columns.push_back(QuotePostgresName(c));
  const std::string head = "FOREIGN KEY (" + Joined(columns, ",") + ") of " + key.table;
  const std::string parent = ParentOnServer(key.parent);
  if (parent.empty()) {
    dialogs_.Message(head + " is left off: its table " + key.parent +
                     " was not copied and is not in the database.");
    return;
  }
  const std::vector<std::string> parent_names = ParentColumns(key, parent);
  if (parent_names.size() != columns.size()) {
    dialogs_.Message(head + " is left off: the fields it refers to are not in " + parent + ".");
    return;
  }
  std::vector<std::string> parent_columns;
  for (const std::string& c : parent_names) parent_columns.push_back(QuotePostgresName(c));
  if (!HasUniqueKey(parent, parent_names)) {
    dialogs_.Message(head + " is left off: " + parent + " has no primary key or unique index on (" +
                     Joined(parent_columns, ",") + ").");
    return;
  }
  const std::string q = QuotePostgresName(key.table);
  const std::string refers = "FOREIGN KEY (" + Joined(columns, ",") + ") REFERENCES " +
                             QuotePostgresName(parent) + "(" + Joined(parent_columns, ",") + ")";
  std::vector<std::string> present, same;
  for (size_t i = 0; i < columns.size(); ++i) {
    present.push_back("t." + columns[i] + " IS NOT NULL");
    same.push_back("p." + parent_columns[i] + " = t." + columns[i]);
  }
  const std::string add =
      "ALTER TABLE " + q + " ADD " + refers + (key.cascade ? " ON UPDATE CASCADE" : "");
  Apply(
      {refers + " on " + key.table, add, add + " NOT VALID",
       OneBreakingRow(q, Joined(present, " AND ") + " AND NOT EXISTS (SELECT 1 FROM " +
                             QuotePostgresName(parent) + " p WHERE " + Joined(same, " AND ") + ")"),
       ""},
      kKeyLine);
}

// A key the server lets a foreign key refer to: a unique index on exactly
// these columns, without expressions or a WHERE.
bool RuleKeeper::HasUniqueKey(const std::string& table, std::vector<std::string> columns) {
  std::sort(columns.begin(), columns.end());
  std::vector<std::string> quoted;
  for (const std::string& c : columns) quoted.push_back(QuotedText(c));
  auto r = postgres_.Execute(
      "SELECT 1 FROM pg_index i WHERE i.indrelid = " + QuotedText(QuotePostgresName(table)) +
      "::regclass AND i.indisunique AND i.indpred IS NULL AND i.indexprs IS NULL AND "
      "i.indnkeyatts = " +
      std::to_string(columns.size()) +
      " AND ARRAY(SELECT a.attname::text FROM pg_attribute a WHERE a.attrelid = i.indrelid AND "
      "a.attnum = ANY(i.indkey) ORDER BY 1) = ARRAY[" +
      Joined(quoted, ",") + "]::text[]");
  return r.ok() && !(*r)->Eof();
}

void RuleKeeper::NoteReferencesTo(const std::string& table) {
  noted_.clear();
  notes_.clear();
  if (gone_) return;
  auto r = postgres_.Execute(
      "SELECT conrelid::regclass::text, conname, pg_get_constraintdef(oid) "
      "FROM pg_constraint "
      "WHERE contype = 'f' AND conrelid <> confrelid AND confrelid = to_regclass(" +
      QuotedText(QuotePostgresName(table)) + ")");
  if (!r.ok()) return;  // the drop that follows meets the same trouble and says so
  for (RecordSet& rs = **r; !rs.Eof(); (void)rs.MoveNext()) {
    const std::string child = rs.FieldValue(0).text();
    const std::string name = QuotePostgresName(rs.FieldValue(1).text());
    const std::string add =
        "ALTER TABLE " + child + " ADD CONSTRAINT " + name + " " + rs.FieldValue(2).text();
    noted_.push_back({"FOREIGN KEY " + name + " of " + child, add, add + " NOT VALID", "",
                      "ALTER TABLE " + child + " DROP CONSTRAINT " + name});
  }
  (*r)->Close();
}

Status RuleKeeper::DropNotedReferences() {
  for (const Rule& key : noted_) {
    statement_ = key.instead;
    CORVANE_RETURN_IF_ERROR(postgres_.Execute(key.instead).status());
  }
  return Status::Ok();
}

// Inside the swap's transaction, so a failed key is undone by a savepoint
// rather than ending the transaction.
Status RuleKeeper::PutBackNotedReferences() {
  for (const Rule& key : noted_) {
    statement_ = key.add;
    CORVANE_RETURN_IF_ERROR(postgres_.Execute("SAVEPOINT corvane_key").status());
    const Status st = postgres_.Execute(key.add).status();
    if (st.ok()) {
      CORVANE_RETURN_IF_ERROR(postgres_.Execute("RELEASE SAVEPOINT corvane_key").status());
      continue;
    }
    const bool broken = st.fault() == SqlFault::kRulesBroken;
    if (!broken && st.fault() != SqlFault::kNoUniqueParent) return st;
    CORVANE_RETURN_IF_ERROR(postgres_.Execute("ROLLBACK TO SAVEPOINT corvane_key").status());
    if (broken) {
      statement_ = key.unchecked;
      CORVANE_RETURN_IF_ERROR(postgres_.Execute(key.unchecked).status());
      notes_.push_back(key.what + " is added NOT VALID, so it binds new rows only: rows break it.");
    } else {
      notes_.push_back(key.what + " is left off: " + st.message());
    }
  }
  return Status::Ok();
}

void RuleKeeper::EndNotedReferences(bool put_back) {
  if (put_back) {
    for (const std::string& note : notes_) dialogs_.Message(note);
  }
  noted_.clear();
  notes_.clear();
}

// The parent as this run copied it, else the server's table of that name
// (its exact spelling first).
std::string RuleKeeper::ParentOnServer(const std::string& name) {
  for (const auto& [copied, layout] : copied_) {
    if (ui::LowerCase(copied) == ui::LowerCase(name)) return copied;
  }
  const std::string quoted = QuotedText(name);
  auto r = postgres_.Execute(
      "SELECT c.relname FROM pg_class c WHERE c.relkind IN ('r','p') AND "
      "pg_table_is_visible(c.oid) AND lower(c.relname) = lower(" +
      quoted + ") ORDER BY c.relname = " + quoted + " DESC LIMIT 1");
  if (!r.ok() || (*r)->Eof()) return "";
  return (*r)->FieldValue(0).text();
}

// The parent's Paradox layout tells which field a number is (from this
// run, else from the folder); without one, the server's columns in order.
std::vector<std::string> RuleKeeper::ParentColumns(const PendingKey& key,
                                                   const std::string& parent) {
  std::optional<TableInfo> layout;
  for (const auto& [copied, l] : copied_) {
    if (copied == parent) layout = l;
  }
  if (!layout) {
    Result<TableInfo> read = ReadParadoxLayout(key.folder, key.parent);
    if (read.ok()) layout = std::move(read).value();
  }
  if (!layout) {
    Result<std::vector<PostgresColumn>> columns = ReadPostgresColumns(postgres_, parent);
    if (!columns.ok() || columns->empty()) return {};
    layout.emplace();
    for (const PostgresColumn& c : *columns)
      layout->fields.push_back({c.name, FieldType::kAlpha, 0, 0});
  }
  if (layout->fields.empty()) return {};
  if (key.parent_numbers.empty()) return {layout->fields[0].name};
  std::vector<std::string> out;
  for (int number : key.parent_numbers) {
    std::optional<std::string> name = FieldOfNumber(*layout, number);
    if (!name) return {};
    out.push_back(*name);
  }
  return out;
}

int AddParadoxReferences(const ConnectionSettings& settings, ui::Dialogs& dialogs,
                         const std::vector<CopiedTable>& copied) {
  ui::Procedure proc(dialogs, kTag);
  std::string statement;
  proc.ShowStatement(&statement);
  Connection postgres;
  proc.Step(122, [&] { return postgres.Open(PostgresConnectionString(settings)); });
  if (!postgres.is_open()) return proc.failures();
  RuleKeeper keeper(postgres, dialogs, proc, statement);
  for (const CopiedTable& table : copied) {
    const std::string folder = table.folder.empty()
                                   ? settings.paradox_folder
                                   : settings.paradox_folder + "/" + table.folder;
    Result<TableInfo> layout = ReadParadoxLayout(folder, table.paradox);
    if (!layout.ok()) {
      proc.Fail(kKeyLine, layout.status());
      continue;
    }
    keeper.QueueReferences(table.postgres, *layout);
  }
  keeper.AddReferences();
  postgres.Close();
  return proc.failures();
}

}  // namespace corvane::transfer
