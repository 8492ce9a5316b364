// "Keep field types and keys", Paradox -> PostgreSQL: the rules a Paradox
// table keeps beside its rows become the server's once the rows are in.
//  - required -> NOT NULL; minimum and maximum -> CHECK; default -> DEFAULT;
//    a picture -> a line of the column's comment ("Paradox picture: ...");
//  - each secondary index -> an index "<table>_<index name>" in its field
//    order (lower() for case-insensitive text, DESC, UNIQUE);
//  - references and lookup tables -> FOREIGN KEYs, added after the last
//    table of the run, so the order of the tables does not matter, when the
//    parent table was copied in the run or is already on the server.
// The rows always arrive first. A rule they break is added NOT VALID (CHECK,
// FOREIGN KEY: it then binds new rows only) or left off (NOT NULL; UNIQUE
// becomes a plain index), with one message naming the rule and a row that
// breaks it. A rule the server refuses for another reason is a failure.
#pragma once

#include <string>
#include <vector>

#include "connection/connection.h"
#include "connection/connection_strings.h"
#include "paradox/format.h"
#include "paradox/validity.h"
#include "ui/procedure.h"
#include "ui/surfaces.h"

namespace corvane::transfer {

class RuleKeeper {
 public:
  // `statement` is where the statement being run is kept for the failure
  // dialogs; all references must outlive the keeper.
  RuleKeeper(Connection& postgres, ui::Dialogs& dialogs, ui::Procedure& proc,
             std::string& statement);

  // After the rows of `table` (created typed from `layout`, whose path is
  // the .db) are in: its field rules and indexes. Its references wait for
  // AddReferences.
  void AddTableRules(const std::string& table, const paradox::TableInfo& layout);
  // Only the references of `table`, for AddReferences; a rule file that
  // cannot be read was reported when its table was copied.
  void QueueReferences(const std::string& table, const paradox::TableInfo& layout);
  // After the last table of the run: the foreign keys of all its tables.
  void AddReferences();

  // Before `table` is replaced: the foreign keys other tables have to it
  // would refuse its drop. They are noted here, dropped inside the
  // transaction that drops the table (DropNotedReferences) and added back
  // to the new table inside the same one (PutBackNotedReferences: NOT
  // VALID when the new rows break them, left off when the new table has
  // no key they can refer to), so no moment leaves a table without them.
  // EndNotedReferences shows what became of them once that transaction
  // committed (`put_back`), and forgets them either way.
  void NoteReferencesTo(const std::string& table);
  Status DropNotedReferences();
  Status PutBackNotedReferences();
  void EndNotedReferences(bool put_back);

  // One rule as statements.
  struct Rule {
    std::string what;       // "CHECK (...) on T", for messages
    std::string add;        // the statement that adds it
    std::string unchecked;  // its NOT VALID form; "" = left off when broken
    std::string broken;     // gives one row that breaks it as text; "" = none can
    std::string instead;    // run when it is left off ("" = nothing)
  };

 private:
  struct PendingKey {
    std::string table;  // the child, as copied
    std::vector<std::string> columns;
    std::string parent;               // the parent's Paradox table name
    std::vector<int> parent_numbers;  // field numbers; empty: the parent's first field
    bool cascade = false;
    std::string folder;  // the child's Paradox folder
  };

  void Queue(const std::string& table, const paradox::TableInfo& layout,
             const paradox::Validity& validity);
  void Apply(const Rule& rule, int line);
  void AddKey(const PendingKey& key);
  std::string ParentOnServer(const std::string& stem);
  bool HasUniqueKey(const std::string& table, std::vector<std::string> columns);
  std::vector<std::string> ParentColumns(const PendingKey& key, const std::string& parent);

  Connection& postgres_;
  ui::Dialogs& dialogs_;
  ui::Procedure& proc_;
  std::string& statement_;
  std::vector<PendingKey> pending_;
  std::vector<Rule> noted_;         // keys to the table being replaced; `instead` drops one
  std::vector<std::string> notes_;  // what became of them, shown once committed
  bool gone_ = false;  // the connection was lost: no further rule is tried
  // The tables of this run by the name they were copied as.
  std::vector<std::pair<std::string, paradox::TableInfo>> copied_;
};

// A Paradox table as copied: its name in the folder and on the server.
struct CopiedTable {
  std::string paradox;
  std::string postgres;
  std::string folder;  // the sub-folder it was found in; its rule files lie beside it
};

// The foreign keys of tables that were copied by separate runs (one run
// per table, as corvane-cli does), once all of them are in. Opens its own
// connection; failures are shown on `dialogs` and counted in the result.
int AddParadoxReferences(const ConnectionSettings& settings, ui::Dialogs& dialogs,
                         const std::vector<CopiedTable>& copied);

}  // namespace corvane::transfer
