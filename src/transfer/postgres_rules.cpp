// Outline: three catalog queries (columns with NOT NULL and DEFAULT, CHECK
// definitions, index keys one per row), each rule read back from the text
// the server prints for it. The parsing is deliberately narrow: a quoted
// name or a lower-case word, casts and parentheses around it, a literal;
// whatever else a definition holds makes it a rule without a form.
#include "transfer/postgres_rules.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "transfer/field_types.h"

namespace corvane::transfer {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Calls `at(i, depth)` for every character outside quotes; stops when it
// returns true. False when quotes or parentheses do not balance.
template <typename F>
bool Scan(std::string_view s, F at) {
  int depth = 0;
  char quote = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote reopens at once
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth < 0) return false;
    if (at(i, depth)) return true;
  }
  return quote == 0 && depth == 0;
}

// "((x))" -> "x"; "(a) AND (b)" stays.
std::string_view StripParens(std::string_view s) {
  for (s = Trim(s); s.size() >= 2 && s.front() == '(' && s.back() == ')';) {
    bool closes_early = false;
    Scan(s, [&](size_t i, int depth) {
      closes_early = depth == 0 && i + 1 < s.size();
      return closes_early;
    });
    if (closes_early) break;
    s = Trim(s.substr(1, s.size() - 2));
  }
  return s;
}

// The first place of `token` outside quotes and parentheses; npos if none.
size_t TopLevel(std::string_view s, std::string_view token) {
  size_t found = std::string_view::npos;
  Scan(s, [&](size_t i, int depth) {
    if (depth == 0 && s.substr(i, token.size()) == token) found = i;
    return found != std::string_view::npos;
  });
  return found;
}

// A type name as a cast prints it: "character varying(10)", "\"char\"".
bool IsTypeName(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
           std::string_view(" _(),[]\".").find(c) != std::string_view::npos;
  });
}

// Parentheses and casts peeled off: "(('x'::text))::varchar" -> "'x'".
std::string_view Bare(std::string_view s) {
  for (;;) {
    s = StripParens(s);
    const size_t cast = TopLevel(s, "::");
    if (cast == std::string_view::npos || !IsTypeName(s.substr(cast + 2))) return s;
    s = s.substr(0, cast);
  }
}

std::optional<std::string> Unquoted(std::string_view s, char quote) {
  if (s.size() < 2 || s.front() != quote || s.back() != quote) return std::nullopt;
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == quote) {
      if (s[i + 1] != quote) return std::nullopt;
      ++i;
    }
    out += s[i];
  }
  return out;
}

std::optional<std::string> ColumnOf(std::string_view s) {
  s = Bare(s);
  if (!s.empty() && s.front() == '"') return Unquoted(s, '"');
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s.front()))) return std::nullopt;
  for (char c : s) {
    if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) &&
        c != '_' && c != '$') {
      return std::nullopt;
    }
  }
  return std::string(s);
}

bool IsNumber(std::string_view s) {
  size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
  bool digits = false, dot = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) {
      digits = true;
    } else if (s[i] == '.' && !dot) {
      dot = true;
    } else if ((s[i] == 'e' || s[i] == 'E') && digits) {
      return IsNumber(s.substr(i + 1 + (i + 1 < s.size() && s[i + 1] == '+')));
    } else {
      return false;
    }
  }
  return digits;
}

}  // namespace

std::optional<std::string> ConstantOf(std::string_view expression) {
  const std::string_view s = Bare(expression);
  if (!s.empty() && s.front() == '\'') return Unquoted(s, '\'');
  if (s == "true") return "True";
  if (s == "false") return "False";
  if (IsNumber(s)) return std::string(s);
  return std::nullopt;
}

std::optional<std::vector<CheckPart>> CheckPartsOf(std::string_view definition) {
  std::string_view s = Trim(definition);
  if (s.substr(0, 6) != "CHECK ") return std::nullopt;
  s.remove_prefix(6);
  for (std::string_view tail : {" NOT VALID", " NO INHERIT"}) {
    if (s.size() > tail.size() && s.substr(s.size() - tail.size()) == tail) {
      s.remove_suffix(tail.size());
    }
  }
  std::vector<CheckPart> parts;
  for (s = StripParens(s); !s.empty();) {
    const size_t and_at = TopLevel(s, " AND ");
    const std::string_view term = StripParens(s.substr(0, and_at));
    s = and_at == std::string_view::npos ? std::string_view() : StripParens(s.substr(and_at + 5));
    constexpr std::string_view kNotNull = " IS NOT NULL";
    if (term.size() > kNotNull.size() && term.substr(term.size() - kNotNull.size()) == kNotNull) {
      std::optional<std::string> column = ColumnOf(term.substr(0, term.size() - kNotNull.size()));
      if (!column) return std::nullopt;
      parts.push_back({*column, CheckPart::kRequired, ""});
      continue;
    }
    const size_t ge = TopLevel(term, " >= "), le = TopLevel(term, " <= ");
    const size_t op = ge != std::string_view::npos ? ge : le;
    if (op == std::string_view::npos || (ge != std::string_view::npos && le != std::string_view::npos)) {
      return std::nullopt;
    }
    std::optional<std::string> column = ColumnOf(term.substr(0, op));
    std::optional<std::string> value = ConstantOf(term.substr(op + 4));
    if (!column || !value) return std::nullopt;
    parts.push_back({*column, op == ge ? CheckPart::kMinimum : CheckPart::kMaximum, *value});
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

std::optional<IndexKey> IndexKeyOf(std::string_view key) {
  std::string_view s = Trim(key);
  IndexKey out;
  if (s.size() > 7 && s.substr(0, 6) == "lower(" && s.back() == ')') {
    s = s.substr(5);
    out.lowered = true;
  }
  std::optional<std::string> column = ColumnOf(s);
  if (!column) return std::nullopt;
  out.column = *column;
  return out;
}

namespace {

using Rows = std::unique_ptr<RecordSet>;

Status ForEachRow(Connection& postgres, const std::string& sql,
                  const std::function<void(RecordSet&)>& each) {
  auto rows = postgres.Execute(sql);
  if (!rows.ok()) return rows.status();
  for (RecordSet& r = **rows; !r.Eof();) {
    each(r);
    CORVANE_RETURN_IF_ERROR(r.MoveNext());
  }
  (*rows)->Close();
  return Status::Ok();
}

paradox::NamedFieldRule& RuleOf(paradox::RulesToWrite& rules, const std::string& column) {
  for (paradox::NamedFieldRule& r : rules.fields) {
    if (r.field == column) return r;
  }
  rules.fields.push_back({column, false, std::nullopt, std::nullopt, std::nullopt, ""});
  return rules.fields.back();
}

Status ReadColumns(Connection& postgres, const std::string& regclass, PostgresRules& out) {
  return ForEachRow(
      postgres,
      "SELECT a.attname, (a.attnotnull AND NOT EXISTS (SELECT 1 FROM pg_index i WHERE "
      "i.indrelid = a.attrelid AND i.indisprimary AND a.attnum = ANY(i.indkey)))::int, "
      "pg_get_expr(d.adbin, d.adrelid), (a.attidentity <> '' OR a.attgenerated <> '' OR "
      "pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%')::int "
      "FROM pg_attribute a LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND "
      "d.adnum = a.attnum WHERE a.attrelid = " +
          regclass + " AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
      [&](RecordSet& r) {
        const std::string column = r.FieldValue(0).text();
        const Value def = r.FieldValue(2);
        const bool counter = r.FieldValue(3).text() == "1";
        // A key field refuses blanks by itself, and a counter fills itself:
        // their NOT NULL says nothing of their own.
        if (r.FieldValue(1).text() == "1" && !counter) RuleOf(out.rules, column).required = true;
        if (def.is_null() || (counter && def.text().rfind("nextval(", 0) == 0)) return;
        std::optional<std::string> value = counter ? std::nullopt : ConstantOf(def.text());
        if (value) {
          RuleOf(out.rules, column).default_value = *value;
        } else {
          out.left_off.push_back("the default " + def.text() + " of column " +
                                 QuotePostgresName(column) + " (not a constant)");
        }
      });
}

Status ReadChecks(Connection& postgres, const std::string& regclass, PostgresRules& out) {
  return ForEachRow(
      postgres,
      "SELECT conname, pg_get_constraintdef(oid) FROM pg_constraint WHERE contype IN "
      "('c', 'f') AND conrelid = " + regclass + " ORDER BY contype, conname",
      [&](RecordSet& r) {
        const std::string name = r.FieldValue(0).text(), def = r.FieldValue(1).text();
        // Only a reference Paradox reads from the table's own .val could
        // stand for a foreign key; none is written.
        std::optional<std::vector<CheckPart>> parts =
            def.rfind("CHECK ", 0) == 0 ? CheckPartsOf(def) : std::nullopt;
        if (!parts) {
          out.left_off.push_back("the constraint " + QuotePostgresName(name) + " " + def);
          return;
        }
        for (const CheckPart& p : *parts) {
          paradox::NamedFieldRule& rule = RuleOf(out.rules, p.column);
          if (p.kind == CheckPart::kRequired) rule.required = true;
          std::optional<std::string>& bound =
              p.kind == CheckPart::kMinimum ? rule.minimum : rule.maximum;
          if (p.kind == CheckPart::kRequired) continue;
          if (bound && *bound != p.value) {
            out.left_off.push_back("the check " + QuotePostgresName(name) + " " + def +
                                   " (column " + QuotePostgresName(p.column) +
                                   " has a bound already)");
            continue;
          }
          bound = p.value;
        }
      });
}

Status ReadIndexes(Connection& postgres, const std::string& table, const std::string& regclass,
                   PostgresRules& out) {
  struct Index {
    paradox::NamedIndex x;
    std::string why_not;
    int directions = 0;  // bit 0 ascending keys seen, bit 1 descending
    bool plain_text = false, lowered = false;
  };
  std::map<std::string, Index> found;
  std::vector<std::string> order;
  CORVANE_RETURN_IF_ERROR(ForEachRow(
      postgres,
      "SELECT c.relname, i.indisunique::int, i.indisprimary::int, (i.indpred IS NOT NULL OR "
      "i.indisexclusion)::int, am.amname, pg_get_indexdef(i.indexrelid, k, true), "
      "i.indoption[k - 1] & 1, COALESCE((SELECT (t.typcategory = 'S')::int FROM pg_attribute a "
      "JOIN pg_type t ON t.oid = a.atttypid WHERE a.attrelid = i.indrelid AND "
      "a.attnum = i.indkey[k - 1]), 0) FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
      "JOIN pg_am am ON am.oid = c.relam, generate_series(1, i.indnkeyatts) k "
      "WHERE i.indrelid = " + regclass + " ORDER BY c.relname, k",
      [&](RecordSet& r) {
        if (r.FieldValue(2).text() == "1") return;  // the table's key
        const std::string name = r.FieldValue(0).text();
        if (!found.count(name)) order.push_back(name);
        Index& x = found[name];
        x.x.name = name.size() > table.size() + 1 && name.rfind(table + "_", 0) == 0
                       ? name.substr(table.size() + 1)
                       : name;
        x.x.unique = r.FieldValue(1).text() == "1";
        if (r.FieldValue(3).text() == "1") x.why_not = "it holds only some rows";
        if (r.FieldValue(4).text() != "btree") x.why_not = "it is no btree index";
        x.directions |= r.FieldValue(6).text() == "1" ? 2 : 1;
        std::optional<IndexKey> key = IndexKeyOf(r.FieldValue(5).text());
        if (!key) {
          x.why_not = "a key is no column";
          return;
        }
        x.lowered = x.lowered || key->lowered;
        // Paradox folds every text field of an index or none.
        x.plain_text = x.plain_text || (!key->lowered && r.FieldValue(7).text() == "1");
        x.x.fields.push_back(key->column);
      }));
  for (const std::string& name : order) {
    Index& x = found[name];
    if (x.directions == 3) x.why_not = "its keys go in both directions";
    if (x.lowered && x.plain_text) x.why_not = "it folds the case of some keys only";
    if (!x.why_not.empty()) {
      out.left_off.push_back("the index " + QuotePostgresName(name) + " (" + x.why_not + ")");
      continue;
    }
    x.x.descending = x.directions == 2;
    x.x.case_insensitive = x.lowered;
    out.rules.indexes.push_back(std::move(x.x));
  }
  return Status::Ok();
}

}  // namespace

Result<PostgresRules> ReadPostgresRules(Connection& postgres, const std::string& table,
                                        const std::string& schema) {
  const std::string regclass = QuotedText(QualifiedPostgresName(schema, table)) + "::regclass";
  PostgresRules out;
  CORVANE_RETURN_IF_ERROR(ReadColumns(postgres, regclass, out));
  CORVANE_RETURN_IF_ERROR(ReadChecks(postgres, regclass, out));
  CORVANE_RETURN_IF_ERROR(ReadIndexes(postgres, table, regclass, out));
  std::erase_if(out.rules.fields, [](const paradox::NamedFieldRule& r) {
    return !r.required && !r.minimum && !r.maximum && !r.default_value;
  });
  return out;
}

paradox::RulesToWrite RulesForExport(const PostgresRules& rules,
                                     const std::vector<PostgresColumn>& columns,
                                     const std::vector<std::string>& fields) {
  paradox::RulesToWrite out = rules.rules;
  // The picture the other direction kept in the column's comment.
  for (const PostgresColumn& c : columns) {
    const size_t at = c.comment.find(kPictureCommentHead);
    if (at != 0 && (at == std::string::npos || c.comment[at - 1] != '\n')) continue;
    const size_t from = at + std::string_view(kPictureCommentHead).size();
    std::string picture = c.comment.substr(from, c.comment.find('\n', from) - from);
    if (!picture.empty()) RuleOf(out, c.name).picture = std::move(picture);
  }
  auto rename = [&](std::string& name) {
    for (size_t i = 0; i < columns.size() && i < fields.size(); ++i) {
      if (columns[i].name == name) {
        name = fields[i];
        return;
      }
    }
  };
  for (paradox::NamedFieldRule& r : out.fields) rename(r.field);
  for (paradox::NamedIndex& x : out.indexes) {
    for (std::string& f : x.fields) rename(f);
  }
  return out;
}

std::string LeftOffNote(const std::string& target, const std::vector<std::string>& left_off,
                        std::string note) {
  if (left_off.empty()) return note;
  std::string text = target + " was written without these rules of its PostgreSQL table, which "
                     "Paradox has no form for:";
  for (const std::string& line : left_off) text += " " + line + ";";
  text.back() = '.';
  return note.empty() ? text : text + " " + note;
}

}  // namespace corvane::transfer
