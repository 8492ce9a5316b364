// corvane-cli dump / schema: a Paradox table as CSV, and its layout.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "paradox/primary_index.h"
#include "paradox/table_reader.h"
#include "paradox/table_rules.h"

namespace corvane::cli {

namespace {

using paradox::Cell;
using paradox::TableInfo;
using paradox::TableReader;

// Output goes through one large buffer: a million-row dump must not pay a
// stream call per field.
class OutBuffer {
 public:
  explicit OutBuffer(std::FILE* f) : f_(f) { buf_.reserve(kFlushAt + 64 * 1024); }
  ~OutBuffer() { Flush(); }
  std::string& text() { return buf_; }
  void MaybeFlush() {
    if (buf_.size() >= kFlushAt) Flush();
  }
  bool Flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) ok_ = false;
    buf_.clear();
    return ok_ && std::fflush(f_) == 0;
  }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  std::FILE* f_;
  std::string buf_;
  bool ok_ = true;
};

void AppendCsvField(const std::string& v, std::string& out) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) {
    out += v;
    return;
  }
  out.push_back('"');
  for (char c : v) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendHeaderLine(const TableInfo& info, std::string& out) {
  for (size_t i = 0; i < info.fields.size(); ++i) {
    if (i > 0) out.push_back(',');
    AppendCsvField(info.fields[i].name, out);
  }
  out.push_back('\n');
}

void AppendRow(const std::vector<Cell>& row, std::string& out) {
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) out.push_back(',');
    if (!row[i].null) AppendCsvField(row[i].text, out);
  }
  out.push_back('\n');
}

int Usage(const char* command) {
  std::fprintf(stderr, "Usage: corvane-cli %s FILE.db\n", command);
  return 2;
}

bool IsHelp(int argc, char** argv) { return argc == 1 && std::strcmp(argv[0], "--help") == 0; }

int Help(const char* command, const char* what) {
  std::printf("Usage: corvane-cli %s FILE.db\n%s\n", command, what);
  return 0;
}

void PrintError(const Status& s) { std::fprintf(stderr, "corvane-cli: %s\n", s.message().c_str()); }

std::string FieldLine(size_t i, const paradox::FieldInfo& f, bool key) {
  std::string line = "  " + std::to_string(i + 1) + "  " + f.name + "  " +
                     paradox::TypeSymbol(f.type) + " (" + paradox::TypeLabel(f.type) + ")  size " +
                     std::to_string(f.size);
  if (f.type == paradox::FieldType::kBcd) line += "  scale " + std::to_string(f.scale);
  if (key) line += "  key";
  return line;
}

void PrintSchema(const TableInfo& info, bool counted) {
  std::printf("File: %s\n", info.path.c_str());
  std::printf("Version: Paradox %s (version byte 0x%02X)\n", info.level.c_str(), info.version_byte);
  if (info.key_fields > 0) {
    std::printf("Keyed: yes, on the first %d field%s\n", info.key_fields,
                info.key_fields == 1 ? "" : "s");
  } else {
    std::printf("Keyed: %s\n", info.keyed ? "yes" : "no");
  }
  std::printf("Code page: %d\n", info.code_page);
  std::printf("Sort order: %s\n", info.sort_order.c_str());
  std::printf("Records: %u%s\n", info.record_count, counted ? "" : " (as the header says)");
  std::printf("Block size: %d\n", info.block_size);
  std::printf("Header size: %d\n", info.header_size);
  std::printf("Record size: %d\n", info.record_size);
  std::printf("Password-protected: %s\n", info.encrypted ? "yes" : "no");
  for (const std::string& note : info.notes) std::printf("Note: %s\n", note.c_str());
  std::printf("Fields: %zu\n", info.fields.size());
  for (size_t i = 0; i < info.fields.size(); ++i) {
    const bool key = static_cast<int>(i) < info.key_fields;
    std::printf("%s\n", FieldLine(i, info.fields[i], key).c_str());
  }
}

// The primary index line of a keyed table; false when its index is there
// but does not agree with the table.
bool PrintIndexCheck(const TableInfo& info) {
  if (info.key_fields <= 0) return true;
  Result<paradox::IndexCheck> check = paradox::CheckPrimaryIndex(info);
  if (!check.ok()) {
    std::printf("Primary index: not checked: %s\n", check.status().message().c_str());
    return false;
  }
  if (check->file.empty()) {
    std::printf("Primary index: none (%s)\n", check->problem.c_str());
    return true;
  }
  if (check->problem.rfind("not checked", 0) == 0) {
    std::printf("Primary index: %s, %s\n", check->file.c_str(), check->problem.c_str());
    return true;
  }
  if (!check->problem.empty()) {
    std::printf("Primary index: %s does not agree with the table: %s\n", check->file.c_str(),
                check->problem.c_str());
    return false;
  }
  std::printf("Primary index: %s, %d level%s, %u entries, agrees with the table\n",
              check->file.c_str(), check->levels, check->levels == 1 ? "" : "s", check->entries);
  return true;
}

std::string Quoted(const std::string& v) { return "\"" + v + "\""; }

std::string FieldNames(const TableInfo& info, const std::vector<int>& fields) {
  std::string out;
  for (int f : fields) out += (out.empty() ? "" : ", ") + info.fields[f].name;
  return out;
}

std::string RuleLine(const TableInfo& info, const paradox::FieldRule& r) {
  std::vector<std::string> parts;
  if (r.required) parts.push_back("required");
  if (r.minimum) parts.push_back("minimum " + Quoted(*r.minimum));
  if (r.maximum) parts.push_back("maximum " + Quoted(*r.maximum));
  if (r.default_value) parts.push_back("default " + Quoted(*r.default_value));
  if (!r.picture.empty()) parts.push_back("picture " + Quoted(r.picture));
  if (!r.lookup_table.empty()) {
    std::string lookup = "lookup " + r.lookup_table;
    if (r.lookup_fill_all) lookup += ", fills all fields";
    if (r.lookup_help) lookup += ", as help";
    parts.push_back(lookup);
  }
  std::string line = "  " + info.fields[r.field].name + ":";
  for (size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? " " : "; ") + parts[i];
  if (parts.empty()) line += " no check";
  return line;
}

std::string IndexLine(const TableInfo& info, const paradox::SecondaryIndex& x) {
  std::string line = "Secondary index: " + std::filesystem::path(x.file).filename().string() + " " +
                     Quoted(x.name) + " on " + FieldNames(info, x.fields);
  if (x.composite) line += ", composite";
  if (x.case_insensitive) line += ", case-insensitive";
  if (x.unique) line += ", unique";
  if (x.descending) line += ", descending";
  return line + ", " + std::to_string(x.entries) + " entries";
}

// The .val and secondary indexes; false when one of those files could not
// be read (it is named, and the rest is still shown).
bool PrintRules(const TableInfo& info) {
  const paradox::TableRules rules = paradox::ReadTableRules(info);
  if (rules.validity) {
    const paradox::Validity& v = *rules.validity;
    std::printf("Validity checks: %s, %zu field%s\n",
                std::filesystem::path(v.file).filename().string().c_str(), v.rules.size(),
                v.rules.size() == 1 ? "" : "s");
    for (const paradox::FieldRule& r : v.rules) std::printf("%s\n", RuleLine(info, r).c_str());
    for (const paradox::Reference& ref : v.references) {
      std::string parents;
      for (int p : ref.parent_fields) parents += (parents.empty() ? "" : ", ") + std::to_string(p);
      std::printf("Reference: %s: %s -> %s (field %s), on update %s\n", Quoted(ref.name).c_str(),
                  FieldNames(info, ref.fields).c_str(), ref.parent_table.c_str(), parents.c_str(),
                  ref.cascade_update ? "cascade" : "refused");
    }
    for (const paradox::Dependent& d : v.dependents) {
      std::printf("Referred to by: %s %s\n", d.child_table.c_str(), Quoted(d.name).c_str());
    }
  }
  for (const paradox::SecondaryIndex& x : rules.indexes) {
    std::printf("%s\n", IndexLine(info, x).c_str());
  }
  for (const std::string& p : rules.problems) std::printf("Not read: %s\n", p.c_str());
  return rules.problems.empty();
}

}  // namespace

int RunDump(int argc, char** argv) {
  if (IsHelp(argc, argv)) {
    return Help("dump", "Prints every row of the Paradox table as CSV, a header line first.");
  }
  if (argc != 1 || argv[0][0] == '-') return Usage("dump");
  Result<std::unique_ptr<TableReader>> reader = TableReader::Open(argv[0]);
  if (!reader.ok()) {
    PrintError(reader.status());
    return 1;
  }
  TableReader& r = **reader;
  OutBuffer out(stdout);
  AppendHeaderLine(r.info(), out.text());
  std::vector<Cell> row;
  int failures = 0;
  for (;;) {
    Result<bool> more = r.Next(row);
    if (!more.ok()) {
      // A damaged blob loses its row only; a damaged block ends the dump.
      out.Flush();
      PrintError(more.status());
      ++failures;
      if (r.broken()) return 1;
      continue;
    }
    if (!*more) break;
    AppendRow(row, out.text());
    out.MaybeFlush();
  }
  if (!out.Flush()) {
    std::fprintf(stderr, "corvane-cli: writing the output failed\n");
    return 1;
  }
  // Rows the header counts but the blocks do not hold may be lost.
  if (!r.count_status().ok()) {
    std::fprintf(stderr, "corvane-cli: warning: %s\n", r.count_status().message().c_str());
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}

int RunSchema(int argc, char** argv) {
  if (IsHelp(argc, argv)) {
    return Help("schema",
                "Prints the Paradox table's version, code page, blocks and fields, its validity\n"
                "checks, references and secondary indexes.");
  }
  if (argc != 1 || argv[0][0] == '-') return Usage("schema");
  // The layout needs no memo, so a missing .mb does not hide it.
  Result<std::unique_ptr<TableReader>> reader =
      TableReader::Open(argv[0], paradox::ReadOptions{true});
  if (reader.ok()) {
    PrintSchema((*reader)->info(), true);
    const bool index_ok = PrintIndexCheck((*reader)->info());
    return PrintRules((*reader)->info()) && index_ok ? 0 : 1;
  }
  Result<TableInfo> info = TableReader::ReadInfo(argv[0]);
  if (info.ok()) PrintSchema(*info, false);
  PrintError(reader.status());
  return 1;
}

}  // namespace corvane::cli
