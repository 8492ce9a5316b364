// Tables of one run that would be written to one table. A Paradox folder
// holds one file per name whatever its case, and a copy to PostgreSQL
// replaces an existing table whatever its case, so targets are compared
// ignoring case. The second copy would silently replace the first: such
// sources are refused before anything is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <functional>
#include <map>
#include <set>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::transfer {

struct RunSource {
  std::string shown;   // as the user knows it ("sales.dup" where a schema tells it apart)
  std::string target;  // the name it would be written as
};

// The groups of two or more sources that share a target, each group in the
// order of `sources`, the groups by their first member.
std::vector<std::vector<size_t>> SharedTargets(const std::vector<RunSource>& sources);

// The refusal of one group: names every member and the table they share.
// `side` says where: "Paradox" or "PostgreSQL".
Status SharedTargetError(const std::vector<RunSource>& sources, const std::vector<size_t>& group,
                         const std::string& side);

// The selected entries of `list` that share their target (`target_of` an
// index) with another; each group's refusal goes to `refuse`, once.
std::set<int> SelectedSharingTargets(const ui::TableList& list,
                                     const std::function<std::string(int)>& target_of,
                                     const std::string& side,
                                     const std::function<void(const Status&)>& refuse);

// A selected Paradox entry read from a file its name alone does not pick,
// or written under another name.
struct ParadoxSource {
  std::string file;    // the table file's own name ("a.db"), in the entry's folder
  std::string target;  // the PostgreSQL table it is written as
};
struct ParadoxRunPlan {
  std::set<int> refused;                  // entries sent nowhere
  std::map<int, ParadoxSource> sources;   // entries not read and written by their name
};

// The Paradox list's selected entries as one run to PostgreSQL copies them.
// Files of one folder that differ only in case (a.db, A.DB) are listed
// under one name: each is read from its own file, the one spelled as listed
// (else the first in byte order) keeps the name and the others take the
// next free "NAME_2", "NAME_3" (free of both lists' names ignoring case);
// `tell` gets one note per such group where a selected one is renamed;
// `given` spellings, when there are, are taken as they are and not told.
// Entries that would still share a PostgreSQL table (a table and its
// namesake in a sub-folder) are refused together through `refuse`, each
// named with its sub-folder.
ParadoxRunPlan PlanParadoxRun(const ui::TableList& paradox, const std::string& folder,
                              const ui::TableList& postgres,
                              const std::function<void(const Status&)>& refuse,
                              const std::function<void(const std::string&)>& tell,
                              const std::map<int, ParadoxSource>* given = nullptr);

// corvane-cli copies one unit at a time, each in a handler run of its own:
// a name, or one of the spellings PlanParadoxRun tells apart, under its
// target. Made once from the lists as the run begins (the run's names
// selected), so that every job's handler runs take the same spellings.
class ParadoxRunUnits {
 public:
  ParadoxRunUnits(const ui::TableList& paradox, const std::string& folder,
                  const ui::TableList& postgres);
  const std::map<int, ParadoxSource>& sources() const { return sources_; }
  // What the user is told of the spellings.
  const std::vector<std::string>& notes() const { return notes_; }
  // `names` (in list order), each followed by the units its spellings add.
  std::vector<std::string> With(const std::vector<std::string>& names) const;
  // Selects the entries `unit` copies, and only them.
  void Select(ui::TableList& list, const std::string& unit) const;
  // The name its table is read by (its file for a spelling) and the
  // sub-folder it lies in.
  std::string SourceOf(const std::string& unit) const;
  std::string FolderOf(const std::string& unit) const;

 private:
  std::map<int, ParadoxSource> sources_;
  std::vector<std::string> notes_;
  std::map<int, std::string> names_;    // entry -> its list text
  std::map<std::string, std::string> folders_;  // unit -> sub-folder
};

// The Paradox name a PostgreSQL table is written as, the long name cut to
// 8 units when `cut_long`.
std::string ParadoxTargetOf(const std::string& source, bool cut_long);

// How a list entry is named in a message: schema.table when it has a schema.
std::string ShownName(const std::string& schema, const std::string& name);

}  // namespace corvane::transfer
