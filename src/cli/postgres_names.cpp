#include "cli/postgres_names.h"

#include <optional>
#include <set>

namespace corvane::cli {
namespace {

struct Reading {
  std::optional<std::string> schema;
  std::string table;
};

// Quoted only where the bare text would read otherwise: a quote inside a
// part is taken as it stands.
std::string QuotedPart(const std::string& part) {
  if (!part.empty() && part.find('.') == std::string::npos && part[0] != '"') return part;
  std::string out = "\"";
  for (char c : part) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// SQL's dotted form with quoted parts; nullopt when it is not well formed.
std::optional<std::vector<std::string>> SplitQuoted(const std::string& typed) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '.') {
      parts.emplace_back();
    } else if (typed[i] != '"') {
      parts.back() += typed[i];
    } else {
      if (!parts.back().empty()) return std::nullopt;
      for (++i;; ++i) {
        if (i >= typed.size()) return std::nullopt;
        if (typed[i] == '"' && (i + 1 >= typed.size() || typed[i + 1] != '"')) break;
        if (typed[i] == '"') ++i;
        parts.back() += typed[i];
      }
      if (i + 1 < typed.size() && typed[i + 1] != '.') return std::nullopt;
    }
  }
  return parts;
}

// What a typed name may mean, the likelier readings first. Quotes make it
// exact; without them a dot parts schema from table, as in SQL, and only
// when no such table exists is it read as part of one table's name.
std::vector<std::vector<Reading>> Readings(const std::string& typed) {
  if (typed.find('"') != std::string::npos) {
    auto parts = SplitQuoted(typed);
    if (parts && parts->size() == 1) return {{{std::nullopt, (*parts)[0]}}};
    if (parts && parts->size() == 2) return {{{(*parts)[0], (*parts)[1]}}};
  }
  std::vector<Reading> split;
  for (size_t dot = typed.find('.'); dot != std::string::npos; dot = typed.find('.', dot + 1)) {
    if (dot > 0 && dot + 1 < typed.size())
      split.push_back({typed.substr(0, dot), typed.substr(dot + 1)});
  }
  if (split.empty()) return {{{std::nullopt, typed}}};
  return {split, {{std::nullopt, typed}}};
}

}  // namespace

bool IsSystemSchema(const std::string& schema) {
  return schema == "information_schema" || schema.rfind("pg_", 0) == 0;
}

std::string CommandLineName(const std::string& schema, const std::string& table,
                            const std::string& first_schema) {
  if (schema.empty() || schema == first_schema) return QuotedPart(table);
  return QuotedPart(schema) + "." + QuotedPart(table);
}

std::string CommandLineName(const ui::TableList& list, int index, const std::string& first_schema) {
  return CommandLineName(list.Schema(index), list.Text(index), first_schema);
}

Result<int> FindPostgresEntry(const ui::TableList& list, const std::string& typed,
                              const std::string& first_schema, bool ignore_case) {
  const std::vector<std::vector<Reading>> tiers = Readings(typed);
  for (const bool exact : {true, false}) {
    if (!exact && !ignore_case) break;
    auto same = [exact](const std::string& a, const std::string& b) {
      return exact ? a == b : ui::LowerCase(a) == ui::LowerCase(b);
    };
    for (const std::vector<Reading>& readings : tiers) {
      std::set<int> hits;
      for (const Reading& r : readings) {
        std::vector<int> found, first;
        for (int i = 0; i < list.Count(); ++i) {
          if (!same(list.Text(i), r.table) || (r.schema && !same(list.Schema(i), *r.schema)))
            continue;
          found.push_back(i);
          if (list.Schema(i) == first_schema) first.push_back(i);
        }
        // A bare name means what PostgreSQL would take it for: the first schema's.
        if (!r.schema && found.size() > 1 && first.size() == 1) found = first;
        hits.insert(found.begin(), found.end());
      }
      if (hits.size() == 1) return *hits.begin();
      if (hits.size() > 1) {
        std::string names;
        for (int i : hits)
          names += (names.empty() ? "" : ", ") + CommandLineName(list, i, first_schema);
        return Status::InvalidArgument(typed + " could mean any of the PostgreSQL tables " + names +
                                       "; give the one meant as schema.table");
      }
    }
  }
  return Status::NotFound("no PostgreSQL table " + typed);
}

}  // namespace corvane::cli
