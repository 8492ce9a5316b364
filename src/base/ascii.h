#ifndef CORVANE_BASE_ASCII_H_
#define CORVANE_BASE_ASCII_H_

// Case folding of ASCII letters only. Names of files, SQL keywords and
// connection keys fold so whatever the locale: std::tolower would also fold
// the bytes of a Latin-1 locale's letters, and differently under another.

#include <string>
#include <string_view>

namespace corvane {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

inline std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace corvane

#endif  // CORVANE_BASE_ASCII_H_
