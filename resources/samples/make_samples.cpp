// Build tool: writes the sample Paradox tables defined by the *.table files of
// one folder into another with our Paradox writer. Any problem in a
// definition or a row stops the build with file and line, so the samples
// that ship are always complete.
//
// Usage: make_samples <definitions folder> <output folder>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "paradox/table_writer.h"

namespace fs = std::filesystem;
using corvane::Status;
using corvane::paradox::Cell;
using corvane::paradox::FieldInfo;
using corvane::paradox::FieldType;
using corvane::paradox::TableWriter;

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Splits at "|"; "\|" stands for a "|" inside a value.
std::vector<std::string> SplitCells(const std::string& line) {
  std::vector<std::string> cells(1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
      cells.back() += '|';
      ++i;
    } else if (line[i] == '|') {
      cells.emplace_back();
    } else {
      cells.back() += line[i];
    }
  }
  for (auto& c : cells) c = Trim(c);
  return cells;
}

bool ParseField(const std::vector<std::string>& cells, FieldInfo& field, std::string& error) {
  static const std::map<std::string, FieldType> kTypes = {
      {"Alpha", FieldType::kAlpha},     {"Date", FieldType::kDate},
      {"Short", FieldType::kShort},     {"Long", FieldType::kLong},
      {"Money", FieldType::kMoney},     {"Number", FieldType::kNumber},
      {"Logical", FieldType::kLogical}, {"Memo", FieldType::kMemo},
      {"Time", FieldType::kTime},       {"Timestamp", FieldType::kTimestamp},
      {"BCD", FieldType::kBcd}};
  if (cells.size() != 2) return error = "a field is written: name | type [size[,scale]]", false;
  std::string spec = cells[1], word = spec.substr(0, spec.find(' '));
  auto type = kTypes.find(word);
  if (type == kTypes.end()) return error = "unknown field type \"" + word + "\"", false;
  field.name = cells[0];
  field.type = type->second;
  if (spec.size() > word.size()) {
    std::string size = Trim(spec.substr(word.size()));
    size_t comma = size.find(',');
    field.size = std::stoi(size.substr(0, comma));
    if (comma != std::string::npos) field.scale = std::stoi(size.substr(comma + 1));
    if (field.type == FieldType::kBcd) field.size = 0;  // BCD always keeps 32 digits
  }
  return true;
}

struct Definition {
  std::vector<FieldInfo> fields;
  std::vector<std::pair<int, std::vector<Cell>>> rows;  // line number, cells
};

bool Parse(const fs::path& file, Definition& def, std::string& error) {
  std::ifstream in(file);
  std::string line;
  bool in_rows = false;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t == "---") {
      in_rows = true;
      continue;
    }
    std::vector<std::string> cells = SplitCells(t);
    std::string why;
    if (!in_rows) {
      FieldInfo field;
      if (!ParseField(cells, field, why)) return error = std::to_string(number) + ": " + why, false;
      def.fields.push_back(field);
      continue;
    }
    if (cells.size() != def.fields.size())
      return error = std::to_string(number) + ": " + std::to_string(cells.size()) + " values for " +
                     std::to_string(def.fields.size()) + " fields",
             false;
    std::vector<Cell> row;
    for (const auto& c : cells) row.push_back(Cell{c.empty(), c});
    def.rows.emplace_back(number, row);
  }
  return true;
}

bool WriteTable(const fs::path& file, const fs::path& out_dir, std::string& error) {
  Definition def;
  if (!Parse(file, def, error)) return false;
  const std::string db = (out_dir / file.stem()).string() + ".db";
  auto writer = TableWriter::Create(db, def.fields);
  if (!writer.ok()) return error = writer.status().message(), false;
  for (const auto& [line, row] : def.rows) {
    Status s = (*writer)->Append(row);
    if (!s.ok()) return error = std::to_string(line) + ": " + s.message(), false;
  }
  Status done = (*writer)->Finish(TableWriter::Replace::kAllowed);
  if (!done.ok()) return error = done.message(), false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_samples <definitions folder> <output folder>\n";
    return 2;
  }
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(argv[1])) {
    if (e.path().extension() == ".table") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  fs::create_directories(argv[2]);
  for (const auto& f : files) {
    std::string error;
    if (!WriteTable(f, argv[2], error)) {
      std::cerr << f.string() << ":" << error << "\n";
      return 1;
    }
  }
  return 0;
}
