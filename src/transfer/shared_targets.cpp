#include "transfer/shared_targets.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "base/utf8.h"
#include "catalog/folder_walk.h"
#include "catalog/paradox_catalog.h"
#include "transfer/long_names.h"

namespace corvane::transfer {

std::vector<std::vector<size_t>> SharedTargets(const std::vector<RunSource>& sources) {
  std::map<std::string, size_t> group_of;  // lower-cased target -> index in `groups`
  std::vector<std::vector<size_t>> groups;
  for (size_t i = 0; i < sources.size(); ++i) {
    auto [it, fresh] = group_of.emplace(utf8::LowerCase(sources[i].target), groups.size());
    if (fresh) groups.emplace_back();
    groups[it->second].push_back(i);
  }
  std::vector<std::vector<size_t>> shared;
  for (auto& g : groups) {
    if (g.size() > 1) shared.push_back(std::move(g));
  }
  return shared;
}

Status SharedTargetError(const std::vector<RunSource>& sources, const std::vector<size_t>& group,
                         const std::string& side) {
  std::string names;
  for (size_t k = 0; k < group.size(); ++k) {
    if (k > 0) names += k + 1 == group.size() ? " and " : ", ";
    names += sources[group[k]].shown;
  }
  return Status::InvalidArgument(
      "Tables " + names + (group.size() == 2 ? " would both" : " would all") +
      " be written as the " + side + " table " + sources[group.front()].target +
      ", each replacing the one before, so none of them was sent. Rename one of them first.");
}

std::set<int> SelectedSharingTargets(const ui::TableList& list,
                                     const std::function<std::string(int)>& target_of,
                                     const std::string& side,
                                     const std::function<void(const Status&)>& refuse) {
  std::vector<RunSource> sources;
  std::vector<int> index_of;
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (!list.Selected(i)) continue;
    sources.push_back({ShownName(list.Schema(i), list.Text(i)), target_of(i)});
    index_of.push_back(i);
  }
  std::set<int> refused;
  for (const std::vector<size_t>& group : SharedTargets(sources)) {
    refuse(SharedTargetError(sources, group, side));
    for (size_t k : group) refused.insert(index_of[k]);
  }
  return refused;
}

namespace {

// The table files an entry group of one name and folder was listed from,
// in the catalog's order, so that the k-th entry is the k-th file.
std::vector<std::string> ListedFiles(const std::string& folder, const std::string& name) {
  std::vector<std::string> files;
  for (const std::string& f : catalog::ListFiles(folder, "*.db")) {
    if (f[0] != '~' && utf8::IsValid(f) && catalog::TableNameOf(f) == name) files.push_back(f);
  }
  return files;
}

// Gives each of `members` (entries of one name and folder, `files` theirs)
// its own file and a target; `taken` holds the lower-cased names in use.
void PlanSpellings(const std::string& where, const std::string& name,
                   const std::vector<int>& members, const std::vector<std::string>& files,
                   std::set<std::string>& taken, ParadoxRunPlan& plan, std::string& note) {
  std::vector<size_t> order(members.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  auto spelled_as_listed = [&](size_t k) {
    return std::filesystem::path(files[k]).stem().string() == name;
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (spelled_as_listed(a) != spelled_as_listed(b)) return spelled_as_listed(a);
    return files[a] < files[b];
  });
  std::string listed, sent;
  int next = 2;
  for (size_t n = 0; n < order.size(); ++n) {
    const size_t k = order[n];
    std::string target = name;
    if (n != 0) {
      do {
        target = name + "_" + std::to_string(next++);
      } while (taken.count(utf8::LowerCase(target)) != 0);
      taken.insert(utf8::LowerCase(target));
    }
    plan.sources[members[k]] = {files[k], target};
    listed += (n == 0 ? "" : n + 1 == order.size() ? " and " : ", ") + files[k];
    sent += (sent.empty() ? files[k] + " is sent as " : ", " + files[k] + " as ") + target;
  }
  note = "Paradox tables " + listed + " in " + where + (order.size() == 2 ? " are both" : " are all") +
         " listed as " + name + "; " + sent + ".";
}

}  // namespace

ParadoxRunPlan PlanParadoxRun(const ui::TableList& paradox, const std::string& folder,
                              const ui::TableList& postgres,
                              const std::function<void(const Status&)>& refuse,
                              const std::function<void(const std::string&)>& tell,
                              const std::map<int, ParadoxSource>* given) {
  ParadoxRunPlan plan;
  if (given != nullptr) plan.sources = *given;
  // corvane-cli runs this once per table of a list of thousands: only the
  // selected entries' namesakes are looked at.
  using Key = std::pair<std::string, std::string>;  // (folder, name)
  std::map<Key, std::vector<int>> groups;
  for (int i = 0; i < paradox.Count(); ++i) {
    if (given == nullptr && paradox.Selected(i)) groups[{paradox.Folder(i), paradox.Text(i)}];
  }
  for (int i = 0; i < paradox.Count(); ++i) {
    if (auto g = groups.find({paradox.Folder(i), paradox.Text(i)}); g != groups.end()) {
      g->second.push_back(i);
    }
  }
  std::set<std::string> taken;
  for (const auto& [key, members] : groups) {
    if (members.size() < 2) continue;
    const std::string where = key.first.empty() ? folder : folder + "/" + key.first;
    const std::vector<std::string> files = ListedFiles(where, key.second);
    // A folder changed since it was listed: the entries share a target below.
    if (files.size() != members.size()) continue;
    if (taken.empty()) {
      for (int i = 0; i < paradox.Count(); ++i) taken.insert(utf8::LowerCase(paradox.Text(i)));
      for (int i = 0; i < postgres.Count(); ++i) taken.insert(utf8::LowerCase(postgres.Text(i)));
    }
    std::string note;
    PlanSpellings(where, key.second, members, files, taken, plan, note);
    // Told where a selected one goes under another name.
    if (std::any_of(members.begin(), members.end(), [&](int i) {
          return paradox.Selected(i) && plan.sources[i].target != key.second;
        })) {
      tell(note);
    }
  }
  std::vector<RunSource> sources;
  std::vector<int> index_of;
  for (int i = paradox.Count() - 1; i >= 0; --i) {
    if (!paradox.Selected(i)) continue;
    const auto planned = plan.sources.find(i);
    const std::string file = planned == plan.sources.end() ? paradox.Text(i) : planned->second.file;
    sources.push_back({paradox.Folder(i).empty() ? file : paradox.Folder(i) + "/" + file,
                       planned == plan.sources.end() ? paradox.Text(i) : planned->second.target});
    index_of.push_back(i);
  }
  for (const std::vector<size_t>& group : SharedTargets(sources)) {
    refuse(SharedTargetError(sources, group, "PostgreSQL"));
    for (size_t k : group) plan.refused.insert(index_of[k]);
  }
  return plan;
}

ParadoxRunUnits::ParadoxRunUnits(const ui::TableList& paradox, const std::string& folder,
                                 const ui::TableList& postgres) {
  sources_ = PlanParadoxRun(
                 paradox, folder, postgres, [](const Status&) {},
                 [&](const std::string& note) { notes_.push_back(note); })
                 .sources;
  for (int i = 0; i < paradox.Count(); ++i) {
    names_[i] = paradox.Text(i);
    const auto planned = sources_.find(i);
    folders_.emplace(planned == sources_.end() ? paradox.Text(i) : planned->second.target,
                     paradox.Folder(i));
  }
}

std::vector<std::string> ParadoxRunUnits::With(const std::vector<std::string>& names) const {
  std::vector<std::string> units;
  for (const std::string& name : names) {
    units.push_back(name);
    std::vector<std::string> renamed;
    for (const auto& [entry, source] : sources_) {
      if (names_.at(entry) == name && source.target != name) renamed.push_back(source.target);
    }
    // NAME_2 before NAME_10.
    std::sort(renamed.begin(), renamed.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    units.insert(units.end(), renamed.begin(), renamed.end());
  }
  return units;
}

// A unit of a planned spelling takes its own entry and the unplanned
// namesakes (in sub-folders), which share its target and are refused with it.
void ParadoxRunUnits::Select(ui::TableList& list, const std::string& unit) const {
  ui::DeselectAll(list);
  std::optional<int> own;
  for (const auto& [entry, source] : sources_) {
    if (source.target == unit) own = entry;
  }
  for (int i = 0; i < list.Count(); ++i) {
    if (i == own || (list.Text(i) == unit && sources_.count(i) == 0)) {
      list.SetSelected(i, true);
      list.SetCurrentIndex(i);
    }
  }
}

std::string ParadoxRunUnits::SourceOf(const std::string& unit) const {
  for (const auto& [entry, source] : sources_) {
    if (source.target == unit) return source.file;
  }
  return unit;
}

std::string ParadoxRunUnits::FolderOf(const std::string& unit) const {
  const auto found = folders_.find(unit);
  return found == folders_.end() ? std::string() : found->second;
}

std::string ParadoxTargetOf(const std::string& source, bool cut_long) {
  if (!cut_long || Utf16Length(source) <= kParadoxNameUnits) return source;
  return FirstUtf16Units(source, kParadoxNameUnits);
}

std::string ShownName(const std::string& schema, const std::string& name) {
  return schema.empty() ? name : schema + "." + name;
}

}  // namespace corvane::transfer
