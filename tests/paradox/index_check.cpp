#include "index_check.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "pxlib_index.h"

namespace corvane::paradox::testing {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void IgnorePxError(pxdoc_t*, int, const char*, void*) {}

// Every record of a Paradox file as pxlib reads it, raw.
std::vector<std::string> PxRecords(const std::string& path) {
  std::vector<std::string> out;
  pxdoc_t* doc = PX_new2(IgnorePxError, nullptr, nullptr, nullptr);
  if (PX_open_file(doc, path.c_str()) == 0) {
    std::string record(static_cast<size_t>(PX_get_recordsize(doc)), '\0');
    for (int r = 0; r < PX_get_num_records(doc); ++r) {
      if (PX_get_record(doc, r, record.data()) == nullptr) break;
      out.push_back(record);
    }
  }
  PX_delete(doc);
  return out;
}

// The records of data block `block` (1-based) of table file bytes `db`.
std::vector<std::string> BlockRecords(const std::string& db, int block) {
  const auto* h = reinterpret_cast<const unsigned char*>(db.data());
  std::vector<std::string> out;
  if (db.size() < 6) return out;
  const size_t rs = LoadLe16(h), header = LoadLe16(h + 2), bs = h[5] * 1024u;
  const size_t at = header + (static_cast<size_t>(block) - 1) * bs;
  if (block < 1 || rs == 0 || at + bs > db.size()) return out;
  const int last = static_cast<int16_t>(LoadLe16(h + at + 4));
  for (int i = 0; last >= 0 && i <= last / static_cast<int>(rs); ++i) {
    out.push_back(db.substr(at + 6 + i * rs, rs));
  }
  return out;
}

std::string YProblem(const SecondaryIndex& x, const fs::path& scratch) {
  std::string y_file = x.file;
  char& letter = y_file[y_file.rfind('.') + 1];
  letter = letter == 'x' ? 'y' : 'Y';
  std::string xb = Slurp(x.file), yb = Slurp(y_file);
  if (yb.size() < 6) return "no .y beside " + x.file;
  xb[kHdrFileType] = 0;
  yb[kHdrFileType] = 1;
  const fs::path db = scratch / "probe.db", px = scratch / "probe.px";
  std::ofstream(db, std::ios::binary) << xb;
  std::ofstream(px, std::ios::binary) << yb;
  const int key_size = LoadLe16(reinterpret_cast<const unsigned char*>(yb.data())) - 6;
  std::string problem = PxlibIndexProblem(db.string(), px.string(), key_size);
  fs::remove(db);
  fs::remove(px);
  return problem.empty() ? "" : "the .y: " + problem;
}

}  // namespace

std::string IndexRecordsProblem(const TableInfo& info, const SecondaryIndex& x,
                                const fs::path& scratch) {
  const std::string db = Slurp(info.path);
  const std::vector<std::string> table = PxRecords(info.path);
  const std::vector<std::string> records = PxRecords(x.file);
  if (records.size() != table.size()) {
    return "pxlib reads " + std::to_string(records.size()) + " index records for " +
           std::to_string(table.size()) + " records";
  }
  std::vector<size_t> offsets(info.fields.size(), 0);
  for (size_t i = 1; i < info.fields.size(); ++i) {
    offsets[i] = offsets[i - 1] + static_cast<size_t>(info.fields[i - 1].size);
  }
  size_t indexed_size = 0, key_size = 0;
  for (int f : x.fields) indexed_size += static_cast<size_t>(info.fields[f].size);
  for (int k = 0; k < info.key_fields; ++k) key_size += static_cast<size_t>(info.fields[k].size);
  auto indexed = [&](const std::string& record) {
    std::string out;
    for (int f : x.fields) out += record.substr(offsets[f], static_cast<size_t>(info.fields[f].size));
    return out;
  };
  std::string previous;
  for (size_t i = 0; i < records.size(); ++i) {
    const std::string& r = records[i];
    const std::string part = r.substr(0, indexed_size);
    const auto* tail = reinterpret_cast<const unsigned char*>(r.data()) + indexed_size;
    std::string found;
    if (info.key_fields > 0) {
      const std::string key = r.substr(indexed_size, key_size);
      for (const std::string& t : BlockRecords(db, static_cast<int>(DecodeFlippedInt(tail + key_size, 2)))) {
        if (t.substr(0, key_size) == key) found = t;
      }
    } else {
      const auto number = static_cast<size_t>(DecodeFlippedInt(tail, 4));
      const std::vector<std::string> block =
          BlockRecords(db, static_cast<int>(DecodeFlippedInt(tail + 4, 2)));
      const auto slot = static_cast<size_t>(DecodeFlippedInt(tail + 6, 2));
      if (slot < block.size() && number < table.size() && block[slot] == table[number]) {
        found = block[slot];
      }
    }
    const std::string at = "index record " + std::to_string(i + 1);
    if (found.empty()) return at + " finds no table record";
    if (indexed(found) != part) return at + " holds other values than its table record";
    // In index order: folded for case-insensitive, reversed for descending.
    std::string folded = part;
    if (x.case_insensitive) {
      std::transform(folded.begin(), folded.end(), folded.begin(),
                     [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    }
    if (i > 0 && (x.descending ? folded > previous : folded < previous)) return at + " is out of order";
    previous = folded;
  }
  return YProblem(x, scratch);
}

}  // namespace corvane::paradox::testing
