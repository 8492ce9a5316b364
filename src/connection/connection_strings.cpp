#include "connection/connection_strings.h"

#include <cctype>

namespace corvane {

std::string PostgresConnectionString(const ConnectionSettings& s) {
  return "Driver={PostgreSQL Unicode};Server=" + s.server + ";Port=" + s.port + ";Uid=" + s.user +
         ";Pwd=" + s.password + ";Database=" + s.database;
}

std::string ParadoxConnectionString(const ConnectionSettings& s) {
  return "Driver={Microsoft Paradox Driver (*.db )};DriverID=538;Fil=Paradox 5.X;DefaultDir=" +
         s.paradox_folder + ";Dbq=" + s.paradox_folder + ";CollatingSequence=ASCII;";
}

std::string StagingConnectionString(const std::string& path) {
  return "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";";
}

namespace {
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}
}  // namespace

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
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t v = eq + 1;
    std::string value;
    if (v < text.size() && text[v] == '{') {
      size_t close = text.find('}', v + 1);
      if (close == std::string::npos) close = text.size();
      value = text.substr(v + 1, close - v - 1);
      size_t next = text.find(';', close);
      i = next == std::string::npos ? text.size() : next + 1;
    } else {
      size_t end = semi == std::string::npos ? text.size() : semi;
      value = text.substr(v, end - v);
      i = end + 1;
    }
    if (!key.empty()) out[key] = value;
  }
  return out;
}

}  // namespace corvane
