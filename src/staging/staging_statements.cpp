#include "staging/staging_statements.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "base/ascii.h"
#include "staging/staging_door.h"

namespace corvane::staging {
namespace {

constexpr std::string_view kExportHead = "select * into [Paradox 5.x;Database=";
constexpr std::string_view kExportTail = ".db] from [";

bool IStartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// A left-to-right reader over one statement text.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool AtEnd() {
    SkipSpace();
    return pos_ == text_.size();
  }
  // Consumes `word` (any case) after optional blanks.
  bool Keyword(std::string_view word) {
    SkipSpace();
    if (!IStartsWith(text_.substr(pos_), word)) return false;
    const size_t end = pos_ + word.size();
    if (end < text_.size() && std::isalnum(static_cast<unsigned char>(text_[end]))) return false;
    pos_ = end;
    return true;
  }
  bool Punct(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // A name between `open` and `close`; it may not be empty. Between
  // backquotes a doubled backquote stands for one, so any name can be
  // written; other names are taken verbatim.
  std::optional<std::string> Quoted(char open, char close) {
    SkipSpace();
    if (pos_ >= text_.size() || text_[pos_] != open) return std::nullopt;
    std::string name;
    size_t end = pos_ + 1;
    for (;; end += 2) {
      const size_t at = text_.find(close, end);
      if (at == std::string_view::npos) return std::nullopt;
      name.append(text_.substr(end, at - end));
      end = at;
      if (open != close || at + 1 >= text_.size() || text_[at + 1] != close) break;
      name += close;
    }
    if (name.empty()) return std::nullopt;
    pos_ = end + 1;
    return name;
  }
  std::optional<std::string> TableName() {
    if (auto n = Quoted('`', '`')) return n;
    return Quoted('[', ']');
  }
  bool Digits(std::string& out) {
    SkipSpace();
    const size_t start = pos_;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    out.assign(text_.substr(start, pos_ - start));
    return pos_ > start;
  }
  std::optional<std::string> Word() {
    SkipSpace();
    const size_t start = pos_;
    while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
  }
  // A text literal with '' standing for one quote; false when unterminated.
  bool Literal(std::string& out) {
    SkipSpace();
    if (pos_ >= text_.size() || text_[pos_] != '\'') return false;
    for (size_t i = pos_ + 1; i < text_.size(); ++i) {
      if (text_[i] != '\'') continue;
      if (i + 1 < text_.size() && text_[i + 1] == '\'') {
        ++i;
        continue;
      }
      out.clear();
      out.reserve(i - pos_ - 1);
      for (size_t j = pos_ + 1; j < i; ++j) {
        out.push_back(text_[j]);
        if (text_[j] == '\'') ++j;  // the second quote of a doubled pair
      }
      pos_ = i + 1;
      return true;
    }
    return false;
  }
  // What is left after blanks.
  std::string_view Rest() {
    SkipSpace();
    return text_.substr(pos_);
  }
  // The end of the statement: an optional ";" and nothing after it.
  bool End() {
    Punct(';');
    return AtEnd();
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

Status SyntaxError(std::string_view what) {
  return Status::InvalidArgument("Syntax error in " + std::string(what) +
                                 " statement of the staging database.");
}

std::optional<std::string> TypeWord(Scanner& s) {
  auto word = s.Word();
  if (!word) return std::nullopt;
  for (std::string_view known : kStagingTypeWords) {
    if (EqualIgnoringAsciiCase(*word, known)) return std::string(known);
  }
  for (const FieldWord& known : kParadoxFieldWords) {
    if (!EqualIgnoringAsciiCase(*word, known.word)) continue;
    // AUTOINC may carry the table's counter, up to the field's 2^31 - 1.
    const bool counted = known.word == "AUTOINC";
    if (!known.sized && !(counted && s.Punct('('))) return std::string(known.word);
    std::string size;
    if ((known.sized && !s.Punct('(')) || !s.Digits(size) || !s.Punct(')')) return std::nullopt;
    if (size.size() > (counted ? 10u : 3u) || (counted && std::stoll(size) > INT32_MAX)) {
      return std::nullopt;
    }
    return std::string(known.word) + "(" + size + ")";
  }
  return std::nullopt;
}

// PRIMARY KEY(`a`,`b`) after the columns: each named column's type word
// gets "KEYn " in front.
Status ReadPrimaryKey(Scanner& s, CreateStatement& create) {
  if (!s.Keyword("KEY") || !s.Punct('(')) return SyntaxError("CREATE TABLE");
  int place = 0;
  do {
    auto name = s.Quoted('`', '`');
    if (!name) return SyntaxError("CREATE TABLE");
    bool found = false;
    for (ColumnDef& c : create.columns) {
      if (c.name != *name || c.type_word.rfind("KEY", 0) == 0) continue;
      c.type_word = "KEY" + std::to_string(++place) + " " + c.type_word;
      found = true;
      break;
    }
    if (!found) {
      return Status::InvalidArgument("The key of staging table `" + create.table + "` names `" +
                                     *name + "`, which is no column or named twice.");
    }
  } while (s.Punct(','));
  return s.Punct(')') ? Status::Ok() : SyntaxError("CREATE TABLE");
}

Result<Statement> ParseCreate(Scanner& s) {
  CreateStatement create;
  auto table = s.TableName();
  if (!table || !s.Punct('(')) return SyntaxError("CREATE TABLE");
  create.table = std::move(*table);
  do {
    if (!create.columns.empty() && s.Keyword("PRIMARY")) {
      CORVANE_RETURN_IF_ERROR(ReadPrimaryKey(s, create));
      break;
    }
    ColumnDef column;
    auto name = s.Quoted('`', '`');
    if (!name) return SyntaxError("CREATE TABLE");
    auto type = TypeWord(s);
    if (!type) {
      return Status::InvalidArgument("Column `" + *name + "` of staging table `" + create.table +
                                     "` has no type the staging database knows.");
    }
    create.columns.push_back({std::move(*name), std::move(*type)});
  } while (s.Punct(','));
  if (!s.Punct(')') || !s.End()) return SyntaxError("CREATE TABLE");
  return Statement(std::move(create));
}

Result<Statement> ParseInsert(Scanner& s) {
  InsertStatement insert;
  auto table = s.TableName();
  if (!table || !s.Keyword("VALUES") || !s.Punct('(')) return SyntaxError("INSERT INTO");
  insert.table = std::move(*table);
  do {
    if (s.Keyword("NULL")) {
      insert.values.emplace_back(std::nullopt);
      continue;
    }
    std::string& literal = insert.values.emplace_back(std::string()).value();
    if (!s.Literal(literal)) return SyntaxError("INSERT INTO");
  } while (s.Punct(','));
  if (!s.Punct(')') || !s.End()) return SyntaxError("INSERT INTO");
  return Statement(std::move(insert));
}

// Un-doubles "]]" in a bracketed name's inside; a lone "]" stays as it is.
std::string UndoubleBrackets(std::string_view inside) {
  std::string out;
  for (size_t i = 0; i < inside.size(); ++i) {
    out += inside[i];
    if (inside[i] == ']' && i + 1 < inside.size() && inside[i + 1] == ']') ++i;
  }
  return out;
}

// The bracketed name runs to the last "]", "]]" standing for "]": a table
// whose name holds "]" (CREATE takes it between backquotes) can still be
// dropped, so it is not left behind for the next transfer of that name.
Result<Statement> ParseDrop(Scanner& s) {
  if (auto table = s.Quoted('`', '`')) {
    if (!s.End()) return SyntaxError("DROP TABLE");
    return Statement(DropStatement{std::move(*table)});
  }
  std::string_view rest = s.Rest();
  while (!rest.empty() &&
         (std::isspace(static_cast<unsigned char>(rest.back())) || rest.back() == ';')) {
    rest.remove_suffix(1);
  }
  if (rest.size() < 3 || rest.front() != '[' || rest.back() != ']') {
    return SyntaxError("DROP TABLE");
  }
  return Statement(DropStatement{UndoubleBrackets(rest.substr(1, rest.size() - 2))});
}

// From just after a "[" to the lone "]" that closes it, "]]" standing for
// "]"; false when nothing closes it.
bool TakeBracketed(std::string_view& rest, std::string& out) {
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != ']') {
      out += rest[i];
    } else if (i + 1 < rest.size() && rest[i + 1] == ']') {
      out += ']';
      ++i;
    } else {
      rest.remove_prefix(i + 1);
      return true;
    }
  }
  return false;
}

// [folder].[target.db] from [source], each with its "]" doubled, so any
// folder and any name can be written.
Result<Statement> ParseExport(std::string_view sql) {
  while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.back()))) sql.remove_suffix(1);
  if (!sql.empty() && sql.back() == ';') sql.remove_suffix(1);
  std::string_view rest = sql.substr(kExportHead.size());
  ExportStatement e;
  if (!TakeBracketed(rest, e.folder) || rest.substr(0, 2) != ".[") return SyntaxError("export");
  rest.remove_prefix(2);
  if (!TakeBracketed(rest, e.target)) return SyntaxError("export");
  const std::string_view from = kExportTail.substr(kExportTail.find(']') + 1);  // " from ["
  const std::string_view ext = kExportTail.substr(0, kExportTail.find(']'));    // ".db"
  if (rest.substr(0, from.size()) != from || e.target.size() <= ext.size() ||
      e.target.compare(e.target.size() - ext.size(), ext.size(), ext) != 0) {
    return SyntaxError("export");
  }
  e.target.resize(e.target.size() - ext.size());
  rest.remove_prefix(from.size());
  if (!TakeBracketed(rest, e.source) || !rest.empty()) return SyntaxError("export");
  CORVANE_RETURN_IF_ERROR(CheckExport(e));
  return Statement(std::move(e));
}

}  // namespace

Status CheckExport(const ExportStatement& e) {
  if (e.source.empty() || e.folder.empty() || e.target.empty()) return SyntaxError("export");
  return Status::Ok();
}

namespace {
// In the order of ColumnWord.
constexpr std::string_view kWords[] = {"VARCHAR",  "DECIMAL", "INT",      "OLEOBJECT",
                                       "MEMO",     "DATETIME", "FLOAT",   "ALPHAMEMO"};
}  // namespace

ColumnWord ColumnWordOf(std::string_view text) {
  for (size_t i = 0; i < std::size(kWords); ++i) {
    if (kWords[i] == text) return static_cast<ColumnWord>(i);
  }
  return ColumnWord::kVarchar;
}

std::string ColumnWordText(const StagingColumn& column) {
  using paradox::FieldType;
  if (!column.kept) return std::string(kWords[static_cast<size_t>(column.word)]);
  const paradox::FieldInfo& f = *column.kept;
  auto sized = [](std::string_view word, int n) {
    return std::string(word) + "(" + std::to_string(n) + ")";
  };
  switch (f.type) {
    case FieldType::kAlpha:
      return sized("ALPHA", f.size);
    case FieldType::kAutoIncrement:
      return column.counter > 0 ? sized("AUTOINC", static_cast<int>(column.counter)) : "AUTOINC";
    case FieldType::kBcd:
      return sized("BCD", f.scale);
    case FieldType::kMemo:
      return sized("MEMOBLOB", f.size);
    case FieldType::kBinary:
      return sized("BINARY", f.size);
    case FieldType::kFormattedMemo:
      return sized("FMTMEMO", f.size);
    case FieldType::kOle:
      return sized("OLE", f.size);
    case FieldType::kGraphic:
      return sized("GRAPHIC", f.size);
    case FieldType::kBytes:
      return sized("BYTES", f.size);
    case FieldType::kShort:
      return "SHORT";
    case FieldType::kLong:
      return "LONG";
    case FieldType::kNumber:
      return "NUMBER";
    case FieldType::kMoney:
      return "MONEY";
    case FieldType::kDate:
      return "DATE";
    case FieldType::kTime:
      return "TIME";
    case FieldType::kTimestamp:
      return "TIMESTAMP";
    case FieldType::kLogical:
      return "LOGICAL";
  }
  return std::string(kWords[static_cast<size_t>(column.word)]);
}

TypeWordParts SplitTypeWord(std::string_view type_word) {
  TypeWordParts parts;
  if (type_word.rfind("KEY", 0) == 0) {
    const size_t space = type_word.find(' ');
    parts.key = std::atoi(std::string(type_word.substr(3, space - 3)).c_str());
    type_word.remove_prefix(space == std::string_view::npos ? type_word.size() : space + 1);
  }
  const size_t open = type_word.find('(');
  parts.word = std::string(type_word.substr(0, open));
  if (open != std::string_view::npos) {
    parts.size = std::atoi(std::string(type_word.substr(open + 1)).c_str());
  }
  return parts;
}

Status CheckInsertTableName(std::string_view table) {
  if (table.empty()) return SyntaxError("INSERT INTO");
  return Status::Ok();
}

Result<Statement> ParseStagingStatement(std::string_view sql) {
  if (IStartsWith(sql, kExportHead)) return ParseExport(sql);
  Scanner s(sql);
  if (s.Keyword("INSERT") && s.Keyword("INTO")) return ParseInsert(s);
  s = Scanner(sql);
  if (s.Keyword("CREATE") && s.Keyword("TABLE")) return ParseCreate(s);
  s = Scanner(sql);
  if (s.Keyword("DROP") && s.Keyword("TABLE")) return ParseDrop(s);
  std::string head(sql.substr(0, 40));
  return Status::NotSupported("The staging database does not accept this statement: " + head +
                              (sql.size() > 40 ? "..." : ""));
}

}  // namespace corvane::staging
