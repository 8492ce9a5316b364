#include "writer_support.h"

extern "C" {
#include <paradox.h>
}

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "paradox/table_reader.h"

namespace corvane::paradox::testing {
namespace {

namespace fs = std::filesystem;

std::string* g_px_error = nullptr;
void OnPxError(pxdoc_t*, int, const char* msg, void*) {
  if (g_px_error && g_px_error->empty()) *g_px_error = msg;
}

std::string Pad(long v, int width) {
  std::string s = std::to_string(v);
  return std::string(width > static_cast<int>(s.size()) ? width - s.size() : 0, '0') + s;
}

// pxlib's calendar: serial day numbers, day 1 of our scale = SDN 1721426.
std::string PxDate(long day) {
  int y = 0, m = 0, d = 0;
  PX_SdnToGregorian(day + 1721425, &y, &m, &d);
  std::string s = Pad(y < 0 ? -y : y, 4) + "-" + Pad(m, 2) + "-" + Pad(d, 2);
  return y < 0 ? s + " BC" : s;
}

std::string PxTime(long ms) {
  std::string s =
      Pad(ms / 3600000, 2) + ":" + Pad(ms / 60000 % 60, 2) + ":" + Pad(ms / 1000 % 60, 2);
  return ms % 1000 ? s + "." + Pad(ms % 1000, 3) : s;
}

std::string PxDouble(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string PxTimestamp(double ms_total) {
  auto ms = static_cast<long long>(std::llround(ms_total));
  long day = static_cast<long>(std::floor(static_cast<double>(ms) / 86400000.0));
  long rest = static_cast<long>(ms - static_cast<long long>(day) * 86400000);
  std::string date = PxDate(day);
  bool bc = date.size() > 10;
  return date.substr(0, 10) + " " + PxTime(rest) + (bc ? " BC" : "");
}

bool AllZero(const char* p, int n) {
  return std::all_of(p, p + n, [](char c) { return c == 0; });
}

Cell PxCell(pxdoc_t* doc, const pxfield_t& f, char* p) {
  Cell c;
  if (f.px_ftype == pxfBCD ? (p[0] & 0x40) == 0 : AllZero(p, f.px_flen)) return c;
  c.null = false;
  long l = 0;
  short s = 0;
  double d = 0;
  char b = 0;
  char* text = nullptr;
  switch (f.px_ftype) {
    case pxfAlpha:
    case pxfBCD:
      if (f.px_ftype == pxfAlpha
              ? PX_get_data_alpha(doc, p, f.px_flen, &text) > 0
              : PX_get_data_bcd(doc, reinterpret_cast<unsigned char*>(p), f.px_fdc, &text) > 0) {
        c.text = text;
        doc->free(doc, text);
      }
      break;
    case pxfShort:
      PX_get_data_short(doc, p, 2, &s);
      c.text = std::to_string(s);
      break;
    case pxfLong:
    case pxfAutoInc:
      PX_get_data_long(doc, p, 4, &l);
      c.text = std::to_string(l);
      break;
    case pxfDate:
      PX_get_data_long(doc, p, 4, &l);
      c.text = PxDate(l);
      break;
    case pxfTime:
      PX_get_data_long(doc, p, 4, &l);
      c.text = PxTime(l);
      break;
    case pxfNumber:
    case pxfCurrency:
      PX_get_data_double(doc, p, 8, &d);
      c.text = PxDouble(d);
      break;
    case pxfTimestamp:
      PX_get_data_double(doc, p, 8, &d);
      c.text = PxTimestamp(d);
      break;
    case pxfLogical:
      PX_get_data_byte(doc, p, 1, &b);
      c.text = b ? "True" : "False";
      break;
    default:
      c.text = "<type " + std::to_string(f.px_ftype) + ">";
  }
  return c;
}

}  // namespace

std::vector<std::string> ScratchFolder::Entries() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ReadBack ReadWithOurReader(const std::string& db_path) {
  ReadBack out;
  auto reader = TableReader::Open(db_path);
  if (!reader.ok()) {
    out.error = reader.status().message();
    return out;
  }
  out.info = reader.value()->info();
  std::vector<Cell> row;
  for (;;) {
    auto more = reader.value()->Next(row);
    if (!more.ok()) {
      out.error = more.status().message();
      return out;
    }
    if (!*more) return out;
    out.rows.push_back(row);
  }
}

PxReadBack ReadWithPxlib(const std::string& db_path) {
  PxReadBack out;
  g_px_error = &out.error;
  pxdoc_t* doc = PX_new2(OnPxError, nullptr, nullptr, nullptr);
  if (PX_open_file(doc, db_path.c_str()) < 0) {
    if (out.error.empty()) out.error = "PX_open_file failed";
    PX_delete(doc);
    return out;
  }
  PX_set_targetencoding(doc, "UTF-8");
  pxhead_t* head = doc->px_head;
  out.version = head->px_fileversion;
  out.record_size = head->px_recordsize;
  out.code_page = head->px_doscodepage;
  for (int i = 0; i < head->px_numfields; ++i) {
    const pxfield_t& f = head->px_fields[i];
    out.fields.push_back({f.px_fname, static_cast<FieldType>(f.px_ftype), f.px_flen, f.px_fdc});
  }
  // Room past the record: pxlib 0.6.8 reads 8 bytes for 4-byte fields.
  std::vector<char> record(static_cast<size_t>(head->px_recordsize) + 16, 0);
  for (int r = 0; r < head->px_numrecords; ++r) {
    if (!PX_get_record(doc, r, record.data())) {
      out.error = "PX_get_record failed at record " + std::to_string(r);
      break;
    }
    std::vector<Cell> row;
    char* p = record.data();
    for (int i = 0; i < head->px_numfields; ++i) {
      row.push_back(PxCell(doc, head->px_fields[i], p));
      p += head->px_fields[i].px_flen;
    }
    out.rows.push_back(std::move(row));
  }
  PX_close(doc);
  PX_delete(doc);
  g_px_error = nullptr;
  return out;
}

std::string CreateWithPxlib(const std::string& db_path, const std::vector<FieldInfo>& fields) {
  std::string error;
  g_px_error = &error;
  pxdoc_t* doc = PX_new2(OnPxError, nullptr, nullptr, nullptr);
  auto* pxf = static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * fields.size(), "f"));
  for (size_t i = 0; i < fields.size(); ++i) {
    pxf[i].px_fname = PX_strdup(doc, fields[i].name.c_str());
    pxf[i].px_ftype = static_cast<char>(fields[i].type);
    pxf[i].px_flen = fields[i].size;
    pxf[i].px_fdc = fields[i].scale;
  }
  if (PX_create_file(doc, pxf, static_cast<int>(fields.size()), db_path.c_str(),
                     pxfFileTypNonIndexDB) < 0 &&
      error.empty()) {
    error = "PX_create_file failed";
  }
  PX_close(doc);
  PX_delete(doc);
  g_px_error = nullptr;
  return error;
}

Cell Null() { return Cell{}; }
Cell Text(std::string text) { return Cell{false, std::move(text)}; }

}  // namespace corvane::paradox::testing
