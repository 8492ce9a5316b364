// Writes the read benchmark's table: N rows of 10 columns of the common
// scalar types, a few NULLs, deterministic values.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "paradox/table_writer.h"

namespace {

using corvane::paradox::Cell;
using corvane::paradox::FieldInfo;
using corvane::paradox::FieldType;

std::vector<FieldInfo> Fields() {
  return {{"Name", FieldType::kAlpha, 24, 0}, {"Qty", FieldType::kShort, 2, 0},
          {"Count", FieldType::kLong, 4, 0},  {"Price", FieldType::kNumber, 8, 0},
          {"Pay", FieldType::kMoney, 8, 0},   {"Day", FieldType::kDate, 4, 0},
          {"At", FieldType::kTime, 4, 0},     {"Stamp", FieldType::kTimestamp, 8, 0},
          {"Ok", FieldType::kLogical, 1, 0},  {"Note", FieldType::kAlpha, 40, 0}};
}

void Set(Cell& c, std::string text) {
  c.null = text.empty();
  c.text = std::move(text);
}

std::string Two(long v) { return (v < 10 ? "0" : "") + std::to_string(v); }

void FillRow(long i, std::vector<Cell>& row) {
  const long r = (i * 2654435761L) % 1000003;
  Set(row[0], "Customer " + std::to_string(r));
  Set(row[1], i % 17 == 0 ? "" : std::to_string(r % 30000 - 15000));
  Set(row[2], std::to_string(r * 1234 - 600000000));
  Set(row[3], std::to_string(r) + "." + std::to_string(i % 100));
  Set(row[4], i % 13 == 0 ? "" : std::to_string(r % 100000) + ".25");
  Set(row[5], std::to_string(1950 + r % 100) + "-" + Two(1 + r % 12) + "-" + Two(1 + r % 28));
  Set(row[6], Two(r % 24) + ":" + Two(r % 60) + ":" + Two(i % 60));
  Set(row[7], std::to_string(1990 + r % 30) + "-" + Two(1 + i % 12) + "-" + Two(1 + r % 28) + " " +
                  Two(i % 24) + ":" + Two(r % 60) + ":00");
  Set(row[8], i % 2 ? "True" : "False");
  Set(row[9], i % 5 == 0 ? "" : "note, with \"quotes\" " + std::to_string(i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: paradox_bench_gen FILE.db ROWS\n");
    return 2;
  }
  const long rows = std::atol(argv[2]);
  auto w = corvane::paradox::TableWriter::Create(argv[1], Fields(), 1252, rows);
  if (!w.ok()) {
    std::fprintf(stderr, "%s\n", w.status().message().c_str());
    return 1;
  }
  std::vector<Cell> row(10);
  for (long i = 0; i < rows; ++i) {
    FillRow(i, row);
    corvane::Status s = (*w)->Append(row);
    if (!s.ok()) {
      std::fprintf(stderr, "row %ld: %s\n", i, s.message().c_str());
      return 1;
    }
  }
  corvane::Status s = (*w)->Finish(corvane::paradox::TableWriter::Replace::kAllowed);
  if (!s.ok()) std::fprintf(stderr, "%s\n", s.message().c_str());
  return s.ok() ? 0 : 1;
}
