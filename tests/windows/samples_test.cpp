// The sample tables the build puts beside the program: every definition
// row is in its table, read back by our reader value for value, and the
// tables without memos read the same through pxlib.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/program_folder.h"
#include "paradox/writer_support.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;
using testing::ReadWithOurReader;
using testing::ReadWithPxlib;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The rows of a definition file, cells trimmed ("" = blank).
std::vector<std::vector<std::string>> DefinedRows(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::vector<std::string>> rows;
  bool in_rows = false;
  for (std::string line; std::getline(in, line);) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t == "---") {
      in_rows = true;
    } else if (in_rows) {
      std::vector<std::string> cells(1);
      for (char c : t) {
        if (c == '|')
          cells.emplace_back();
        else
          cells.back().push_back(c);
      }
      for (auto& c : cells) c = Trim(c);
      rows.push_back(cells);
    }
  }
  return rows;
}

bool SameValue(FieldType type, const std::string& defined, const Cell& read) {
  if (defined.empty()) return read.null;
  if (read.null) return false;
  if (type == FieldType::kMoney || type == FieldType::kNumber)
    return std::stod(defined) == std::stod(read.text);
  return defined == read.text;
}

TEST(SampleTables, EveryDefinedRowIsInItsTableExactly) {
  const fs::path samples = app::ProgramFolder() + "/Samples";
  int tables = 0;
  for (const auto& entry : fs::directory_iterator(CORVANE_SAMPLE_DEFINITIONS)) {
    if (entry.path().extension() != ".table") continue;
    ++tables;
    const std::string db = (samples / entry.path().stem()).string() + ".db";
    testing::ReadBack ours = ReadWithOurReader(db);
    ASSERT_EQ(ours.error, "") << db;
    auto defined = DefinedRows(entry.path());
    ASSERT_EQ(ours.rows.size(), defined.size()) << db;
    for (size_t r = 0; r < defined.size(); ++r) {
      for (size_t c = 0; c < defined[r].size(); ++c) {
        EXPECT_TRUE(SameValue(ours.info.fields[c].type, defined[r][c], ours.rows[r][c]))
            << db << " row " << r << " field " << ours.info.fields[c].name << ": \""
            << defined[r][c] << "\" read as \"" << ours.rows[r][c].text << "\"";
      }
    }
  }
  EXPECT_GE(tables, 4);
}

TEST(SampleTables, TablesWithoutMemosReadTheSameThroughPxlib) {
  for (const char* name : {"PARTS", "ITEMS"}) {
    const std::string db = app::ProgramFolder() + "/Samples/" + name + ".db";
    testing::ReadBack ours = ReadWithOurReader(db);
    testing::PxReadBack px = ReadWithPxlib(db);
    ASSERT_EQ(px.error, "") << db;
    ASSERT_EQ(px.rows.size(), ours.rows.size()) << db;
    for (size_t r = 0; r < px.rows.size(); ++r) {
      for (size_t c = 0; c < px.rows[r].size(); ++c) {
        EXPECT_EQ(px.rows[r][c].null, ours.rows[r][c].null) << db << " " << r << "/" << c;
        EXPECT_EQ(px.rows[r][c].text, ours.rows[r][c].text) << db << " " << r << "/" << c;
      }
    }
  }
}

}  // namespace
}  // namespace corvane::paradox
