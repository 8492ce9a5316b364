// libFuzzer target for the table reader. Input: u32 LE length of the .db
// part, the .db bytes, then the .mb bytes. Both are written to files in a
// private directory because the reader works on files, as users' tables are.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "paradox/table_reader.h"

namespace {

const std::string& WorkDir() {
  static const std::string dir = [] {
    const auto d =
        std::filesystem::temp_directory_path() / ("corvane-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir;
}

void Put(const std::string& path, const uint8_t* data, size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (n > 0) std::fwrite(data, 1, n, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  size_t db_len = data[0] | (data[1] << 8) | (data[2] << 16) | (size_t(data[3]) << 24);
  data += 4;
  size -= 4;
  if (db_len > size) db_len = size;
  const std::string db = WorkDir() + "/t.db";
  Put(db, data, db_len);
  Put(WorkDir() + "/t.mb", data + db_len, size - db_len);
  auto reader = corvane::paradox::TableReader::Open(db);
  if (!reader.ok()) return 0;
  std::vector<corvane::paradox::Cell> row;
  // Every record is visited once; errors that cost a record go on.
  for (;;) {
    auto more = (*reader)->Next(row);
    if (more.ok() && !*more) break;
    if (!more.ok() && (*reader)->broken()) break;
  }
  return 0;
}
