#include "ui/surfaces.h"

#include <locale.h>

#include <clocale>
#include <cwctype>

namespace corvane::ui {
namespace {

// Case mapping of the C.UTF-8 locale, whatever the process locale is.
locale_t Utf8Locale() {
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}

// Decodes one UTF-8 sequence at s[i]; malformed bytes stand for themselves.
char32_t NextCodePoint(const std::string& s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len <= 1 || i + len > s.size()) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t Lower(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  locale_t loc = Utf8Locale();
  return loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc)) : cp;
}

}  // namespace

std::string LowerCase(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t start = i;
    char32_t cp = NextCodePoint(text, i);
    if (i - start == 1 && static_cast<unsigned char>(text[start]) >= 0x80) {
      out += text[start];  // a stray byte stays as it is
    } else {
      AppendUtf8(out, Lower(cp));
    }
  }
  return out;
}

bool ListOrderLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = Lower(NextCodePoint(a, i));
    char32_t y = Lower(NextCodePoint(b, j));
    if (x != y) return x < y;
  }
  return i >= a.size() && j < b.size();
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

void SelectAll(TableList& list) {
  for (int i = 0; i < list.Count(); ++i) list.SetSelected(i, true);
}

void DeselectAll(TableList& list) {
  for (int i = 0; i < list.Count(); ++i) list.SetSelected(i, false);
}

}  // namespace corvane::ui
