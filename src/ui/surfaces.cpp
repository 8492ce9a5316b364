#include "ui/surfaces.h"

#include <algorithm>

namespace corvane::ui {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(const std::string& s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return LowerAscii(c); });
  return out;
}

}  // namespace

bool ListOrderLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
  });
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

bool ListContains(const TableList& list, const std::string& text) {
  const std::string wanted = LowerAscii(text);
  bool found = false;
  for (int i = 0; i < list.Count(); ++i) {
    if (LowerAscii(list.Text(i)) == wanted) found = true;
  }
  return found;
}

void RemoveFromList(TableList& list, const std::string& text) {
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (list.Text(i) == text) list.RemoveAt(i);
  }
}

void SelectAll(TableList& list) {
  for (int i = 0; i < list.Count(); ++i) list.SetSelected(i, true);
}

void DeselectAll(TableList& list) {
  for (int i = 0; i < list.Count(); ++i) list.SetSelected(i, false);
}

}  // namespace corvane::ui
