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

// The Paradox name a PostgreSQL table is written as, the long name cut to
// 8 units when `cut_long`.
std::string ParadoxTargetOf(const std::string& source, bool cut_long);

// How a list entry is named in a message: schema.table when it has a schema.
std::string ShownName(const std::string& schema, const std::string& name);

}  // namespace corvane::transfer
