#include "pxlib_table.h"

extern "C" {
#include <paradox.h>
}

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

bool NeedsBlobFile(const std::vector<PxField>& fields) {
  for (const PxField& f : fields) {
    if (f.type == pxfMemoBLOb || f.type == pxfBLOb || f.type == pxfFmtMemoBLOb ||
        f.type == pxfOLE || f.type == pxfGraphic)
      return true;
  }
  return false;
}

}  // namespace

std::string MakePxTable(const std::string& path, const std::vector<PxField>& fields,
                        const std::vector<PxRow>& rows) {
  std::string error;
  g_error = &error;
  pxdoc_t* doc = PX_new2(OnError, nullptr, nullptr, nullptr);
  auto* pxf = static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * fields.size(), "f"));
  for (size_t i = 0; i < fields.size(); ++i) {
    pxf[i].px_fname = static_cast<char*>(doc->malloc(doc, fields[i].name.size() + 1, "n"));
    std::strcpy(pxf[i].px_fname, fields[i].name.c_str());
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
  PX_set_parameter(doc, "codepage", "1252");
  PX_set_inputencoding(doc, "UTF-8");
  PX_set_targetencoding(doc, "CP1252");
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
