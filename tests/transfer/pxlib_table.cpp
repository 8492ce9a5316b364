#include "pxlib_table.h"

extern "C" {
#include <paradox.h>
}

#include <iconv.h>

#include <cstdlib>
#include <cstring>

namespace corvane::testing {

namespace {

std::string* g_error = nullptr;

void OnError(pxdoc_t*, int, const char* msg, void*) {
  if (g_error && g_error->empty()) *g_error = msg;
}

pxval_t* MakeVal(pxdoc_t* doc, const PxValue& v) {
  auto* val = static_cast<pxval_t*>(doc->malloc(doc, sizeof(pxval_t), "test value"));
  std::memset(val, 0, sizeof(pxval_t));
  if (v.integer) {
    val->value.lval = *v.integer;
  } else if (v.real) {
    val->value.dval = *v.real;
  } else if (v.text) {
    val->value.str.len = static_cast<int>(v.text->size());
    val->value.str.val = static_cast<char*>(doc->malloc(doc, v.text->size() + 1, "test text"));
    std::memcpy(val->value.str.val, v.text->c_str(), v.text->size() + 1);
  } else {
    val->isnull = 1;
  }
  return val;
}

std::string InsertRows(pxdoc_t* doc, const std::vector<PxRow>& rows, size_t width) {
  for (const PxRow& row : rows) {
    std::vector<pxval_t*> vals(width, nullptr);
    for (size_t i = 0; i < width && i < row.size(); ++i) vals[i] = MakeVal(doc, row[i]);
    for (size_t i = row.size(); i < width; ++i) vals[i] = MakeVal(doc, PxNull());
    if (PX_insert_record(doc, vals.data()) < 0) return "PX_insert_record failed";
    for (size_t i = 0; i < width; ++i) {
      if (i < row.size() && row[i].text) doc->free(doc, vals[i]->value.str.val);
      doc->free(doc, vals[i]);
    }
  }
  return {};
}

// pxlib stores field names as given: they go in already in the code page.
std::string InCodePage(const std::string& utf8, int code_page) {
  iconv_t cd = iconv_open(("CP" + std::to_string(code_page)).c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() * 2 + 1, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size(), out_left = out.size();
  char* o = out.data();
  const size_t r = iconv(cd, &in, &in_left, &o, &out_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return utf8;
  out.resize(out.size() - out_left);
  return out;
}

bool NeedsBlobFile(const std::vector<PxField>& fields) {
  for (const PxField& f : fields) {
    if (f.type == pxfMemoBLOb || f.type == pxfBLOb || f.type == pxfFmtMemoBLOb ||
        f.type == pxfOLE || f.type == pxfGraphic)
      return true;
  }
  return false;
}

}  // namespace

std::string PxInCodePage(const std::string& utf8, int code_page) {
  return InCodePage(utf8, code_page);
}

std::string MakePxTable(const std::string& path, const std::vector<PxField>& fields,
                        const std::vector<PxRow>& rows, int code_page) {
  std::string error;
  g_error = &error;
  pxdoc_t* doc = PX_new2(OnError, nullptr, nullptr, nullptr);
  auto* pxf = static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * fields.size(), "f"));
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string name = InCodePage(fields[i].name, code_page);
    pxf[i].px_fname = static_cast<char*>(doc->malloc(doc, name.size() + 1, "n"));
    std::strcpy(pxf[i].px_fname, name.c_str());
    pxf[i].px_ftype = fields[i].type;
    pxf[i].px_flen = fields[i].length;
    pxf[i].px_fdc = fields[i].decimals;
  }
  if (PX_create_file(doc, pxf, static_cast<int>(fields.size()), path.c_str(),
                     pxfFileTypNonIndexDB) < 0) {
    PX_delete(doc);
    g_error = nullptr;
    return error.empty() ? "PX_create_file failed" : error;
  }
  PX_set_parameter(doc, "codepage", std::to_string(code_page).c_str());
  // pxlib opens its converter when the input encoding is set: target first.
  PX_set_targetencoding(doc, ("CP" + std::to_string(code_page)).c_str());
  PX_set_inputencoding(doc, "UTF-8");
  if (NeedsBlobFile(fields)) {
    std::string mb = path.substr(0, path.size() - 3) + ".mb";
    PX_set_blob_file(doc, mb.c_str());
  }
  std::string insert_error = InsertRows(doc, rows, fields.size());
  PX_close(doc);
  PX_delete(doc);
  g_error = nullptr;
  if (!insert_error.empty()) return insert_error + (error.empty() ? "" : ": " + error);
  return error;
}

}  // namespace corvane::testing
