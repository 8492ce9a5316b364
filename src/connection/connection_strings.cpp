#include "connection/connection_strings.h"

#include <cctype>

#include "base/ascii.h"


namespace corvane {
namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A braced value from the "{" at `open`: "}}" is one "}", a lone "}" ends it.
// Returns the position after the closing brace (the end of the text when
// the brace is never closed).
size_t ReadBraced(const std::string& text, size_t open, std::string& value) {
  size_t i = open + 1;
  while (i < text.size()) {
    if (text[i] == '}') {
      if (i + 1 < text.size() && text[i + 1] == '}') {
        value += '}';
        i += 2;
        continue;
      }
      return i + 1;
    }
    value += text[i++];
  }
  return i;
}

}  // namespace

std::string QuoteConnectionValue(const std::string& value) {
  bool needs = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  for (char c : value) needs = needs || c == ';' || c == '=' || c == '{' || c == '}';
  if (!needs) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

std::string PostgresConnectionString(const ConnectionSettings& s) {
  std::string out =
      "Driver={PostgreSQL Unicode};Server=" + QuoteConnectionValue(s.server) +
      ";Port=" + QuoteConnectionValue(s.port) + ";Uid=" + QuoteConnectionValue(s.user) +
      ";Pwd=" + QuoteConnectionValue(s.password) + ";Database=" + QuoteConnectionValue(s.database);
  for (const auto& [key, value] : s.libpq_extra)
    out += ";" + std::string(kLibpqKeyPrefix) + key + "=" + QuoteConnectionValue(value);
  return out;
}

std::string ParadoxConnectionString(const ConnectionSettings& s) {
  const std::string folder = QuoteConnectionValue(s.paradox_folder);
  return "Driver={Microsoft Paradox Driver (*.db )};DriverID=538;Fil=Paradox 5.X;DefaultDir=" +
         folder + ";Dbq=" + folder + ";CollatingSequence=ASCII;";
}

std::string StagingConnectionString(const std::string& path) {
  return "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + QuoteConnectionValue(path) + ";";
}

std::map<std::string, std::string> ParseConnectionString(const std::string& text) {
  std::map<std::string, std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // A piece without "=" carries no attribute.
      if (semi == std::string::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = Trim(text.substr(i, eq - i));
    key = AsciiLowerCase(key);
    size_t v = eq + 1;
    while (v < text.size() && v < semi && IsBlank(text[v])) ++v;
    std::string value;
    if (v < text.size() && text[v] == '{') {
      size_t after = ReadBraced(text, v, value);
      size_t next = text.find(';', after);
      i = next == std::string::npos ? text.size() : next + 1;
    } else {
      size_t end = semi == std::string::npos ? text.size() : semi;
      value = text.substr(eq + 1, end - eq - 1);
      i = end + 1;
    }
    if (!key.empty()) out[key] = value;
  }
  return out;
}

}  // namespace corvane
