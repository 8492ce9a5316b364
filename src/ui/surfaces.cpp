#include "ui/surfaces.h"

#include <algorithm>
#include <unordered_map>

#include "base/utf8.h"

namespace corvane::ui {

std::string LowerCase(const std::string& text) { return utf8::LowerCase(text); }

bool ListOrderLess(const std::string& a, const std::string& b) {
  return utf8::CompareIgnoringCase(a, b) < 0;
}

int SortedInsertIndex(const TableList& list, const std::string& name) {
  // Binary search for the first entry that sorts after `name`.
  int lo = 0, hi = list.Count();
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (ListOrderLess(name, list.Text(mid)))
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

namespace {

// A list is filled again after every table a command line run writes, with
// mostly the same names: each name's key is kept, per thread as the
// collator is, up to a bound.
const std::string& KeptCollationKey(const std::string& name) {
  constexpr size_t kMostKept = 100000;
  thread_local std::unordered_map<std::string, std::string> kept;
  if (auto it = kept.find(name); it != kept.end()) return it->second;
  if (kept.size() >= kMostKept) kept.clear();
  return kept.emplace(name, utf8::CollationKey(name)).first->second;
}

}  // namespace

void SortEntries(std::vector<ListEntry>& entries) {
  // Each name collated once, not once per comparison.
  std::vector<std::pair<std::string, size_t>> keys;
  keys.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) keys.emplace_back(KeptCollationKey(entries[i].name), i);
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ListEntry> sorted;
  sorted.reserve(entries.size());
  for (const auto& k : keys) sorted.push_back(std::move(entries[k.second]));
  entries = std::move(sorted);
}

bool ListContains(const TableList& list, const std::string& text) {
  const std::string wanted = LowerCase(text);
  bool found = false;
  for (int i = 0; i < list.Count(); ++i) {
    if (LowerCase(list.Text(i)) == wanted) found = true;
  }
  return found;
}

void RemoveFromList(TableList& list, const std::string& text) {
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (list.Text(i) == text) list.RemoveAt(i);
  }
}

void RemoveFromListInSchema(TableList& list, const std::string& text, const std::string& schema) {
  for (int i = list.Count() - 1; i >= 0; --i) {
    const std::string own = list.Schema(i);
    if (list.Text(i) == text && (own.empty() || schema.empty() || own == schema)) list.RemoveAt(i);
  }
}

void TableList::SetAllSelected(bool selected) {
  for (int i = 0; i < Count(); ++i) SetSelected(i, selected);
  if (Count() > 0) SetCurrentIndex(Count() - 1);
}

void SelectAll(TableList& list) { list.SetAllSelected(true); }

void DeselectAll(TableList& list) { list.SetAllSelected(false); }

}  // namespace corvane::ui
