#include "transfer/shared_targets.h"

#include <map>

#include "base/utf8.h"
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

std::string ParadoxTargetOf(const std::string& source, bool cut_long) {
  if (!cut_long || Utf16Length(source) <= kParadoxNameUnits) return source;
  return FirstUtf16Units(source, kParadoxNameUnits);
}

std::string ShownName(const std::string& schema, const std::string& name) {
  return schema.empty() ? name : schema + "." + name;
}

}  // namespace corvane::transfer
