// Writes N rows of a 10-column table either with our TableWriter ("ours")
// or with pxlib ("pxlib"), for bench/paradox_write_bench.sh. Both modes make
// the same values the same way (native and as text), so the difference in
// run time is the writers'; the time spent inside the writer is also printed.
extern "C" {
#include <paradox.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "paradox/table_writer.h"

namespace {

using corvane::paradox::Cell;
using corvane::paradox::FieldInfo;
using corvane::paradox::FieldType;
using Clock = std::chrono::steady_clock;

const std::vector<FieldInfo> kFields = {
    {"Name", FieldType::kAlpha, 24, 0}, {"Qty", FieldType::kShort, 2, 0},
    {"Count", FieldType::kLong, 4, 0},  {"Price", FieldType::kNumber, 8, 0},
    {"Pay", FieldType::kMoney, 8, 0},   {"Day", FieldType::kDate, 4, 0},
    {"At", FieldType::kTime, 4, 0},     {"Stamp", FieldType::kTimestamp, 8, 0},
    {"Ok", FieldType::kLogical, 1, 0},  {"Note", FieldType::kAlpha, 40, 0}};

struct Native {
  std::string name, note;
  int qty, count, day, at;
  double price, pay, stamp;
  bool ok;
};

std::string Two(long v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// Row i as native values and as the texts the data layer would give.
void MakeRow(long i, Native& n, std::vector<Cell>& t) {
  const long r = (i * 2654435761L) % 1000003;
  n.name = "Customer " + std::to_string(r);
  n.qty = static_cast<int>(r % 30000 - 15000);
  n.count = static_cast<int>(r * 1234 - 600000000);
  n.price = static_cast<double>(r) + 0.25 * static_cast<double>(i % 4);
  n.pay = static_cast<double>(r % 100000) + 0.5;
  const int y = static_cast<int>(2000 + r % 20), m = static_cast<int>(1 + r % 12),
            d = static_cast<int>(1 + r % 28);
  n.day = static_cast<int>(PX_GregorianToSdn(y, m, d) - 1721425);
  n.at = static_cast<int>((r % 86400) * 1000);
  n.stamp = static_cast<double>(n.day) * 86400000.0 + n.at;
  n.ok = i % 2;
  n.note = "note " + std::to_string(i);
  const std::string date = std::to_string(y) + "-" + Two(m) + "-" + Two(d);
  const std::string time = Two(r % 86400 / 3600) + ":" + Two(r % 3600 / 60) + ":" + Two(r % 60);
  const std::string texts[] = {n.name,
                               std::to_string(n.qty),
                               std::to_string(n.count),
                               std::to_string(n.price),
                               std::to_string(n.pay),
                               date,
                               time,
                               date + " " + time,
                               n.ok ? "True" : "False",
                               n.note};
  for (int k = 0; k < 10; ++k) t[k] = Cell{false, texts[k]};
  // std::to_string writes 6 decimals; the exact short form is what arrives.
  char buf[32];
  t[3].text.assign(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%.17g", n.price)));
  t[4].text.assign(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%.17g", n.pay)));
}

// %.17g is not always the shortest form; the writer wants an exact one.
void Shorten(Cell& c) {
  double v = std::strtod(c.text.c_str(), nullptr);
  char buf[32];
  for (int p = 1; p <= 17; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  c.text = buf;
}

int WriteOurs(const char* path, long rows, double& inside) {
  auto w = corvane::paradox::TableWriter::Create(path, kFields, 1252, static_cast<uint64_t>(rows));
  if (!w.ok()) return std::fprintf(stderr, "%s\n", w.status().message().c_str()), 1;
  Native n;
  std::vector<Cell> t(10);
  for (long i = 0; i < rows; ++i) {
    MakeRow(i, n, t);
    Shorten(t[3]);
    Shorten(t[4]);
    auto start = Clock::now();
    corvane::Status st = w.value()->Append(t);
    inside += std::chrono::duration<double>(Clock::now() - start).count();
    if (!st.ok()) return std::fprintf(stderr, "%s\n", st.message().c_str()), 1;
  }
  auto start = Clock::now();
  corvane::Status st = w.value()->Finish(corvane::paradox::TableWriter::Replace::kAllowed);
  inside += std::chrono::duration<double>(Clock::now() - start).count();
  return st.ok() ? 0 : (std::fprintf(stderr, "%s\n", st.message().c_str()), 1);
}

int WritePxlib(const char* path, long rows, double& inside) {
  pxdoc_t* doc = PX_new();
  auto* pxf = static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * kFields.size(), "f"));
  for (size_t i = 0; i < kFields.size(); ++i) {
    pxf[i] = {PX_strdup(doc, kFields[i].name.c_str()), static_cast<char>(kFields[i].type),
              kFields[i].size, 0};
  }
  if (PX_create_file(doc, pxf, static_cast<int>(kFields.size()), path, pxfFileTypNonIndexDB) < 0)
    return 1;
  std::vector<char> rec(static_cast<size_t>(PX_get_recordsize(doc)));
  Native n;
  std::vector<Cell> t(10);
  for (long i = 0; i < rows; ++i) {
    MakeRow(i, n, t);
    Shorten(t[3]);
    Shorten(t[4]);
    auto start = Clock::now();
    char* p = rec.data();
    std::memset(p, 0, rec.size());
    PX_put_data_alpha(doc, p, 24, n.name.data());
    PX_put_data_short(doc, p + 24, 2, static_cast<short>(n.qty));
    PX_put_data_long(doc, p + 26, 4, n.count);
    PX_put_data_double(doc, p + 30, 8, n.price);
    PX_put_data_double(doc, p + 38, 8, n.pay);
    PX_put_data_long(doc, p + 46, 4, n.day);
    PX_put_data_long(doc, p + 50, 4, n.at);
    PX_put_data_double(doc, p + 54, 8, n.stamp);
    PX_put_data_byte(doc, p + 62, 1, n.ok ? 1 : 0);
    PX_put_data_alpha(doc, p + 63, 40, n.note.data());
    if (PX_put_record(doc, p) < 0) return 1;
    inside += std::chrono::duration<double>(Clock::now() - start).count();
  }
  auto start = Clock::now();
  PX_close(doc);
  PX_delete(doc);
  inside += std::chrono::duration<double>(Clock::now() - start).count();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "ours") != 0 && std::strcmp(argv[1], "pxlib") != 0)) {
    std::fprintf(stderr, "usage: paradox_write_bench ours|pxlib FILE.db ROWS\n");
    return 2;
  }
  const long rows = std::atol(argv[3]);
  double inside = 0;
  int rc = std::strcmp(argv[1], "ours") == 0 ? WriteOurs(argv[2], rows, inside)
                                             : WritePxlib(argv[2], rows, inside);
  std::printf("%.3f\n", inside);
  return rc;
}
