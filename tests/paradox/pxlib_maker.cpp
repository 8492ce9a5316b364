#include "paradox/pxlib_maker.h"

extern "C" {
#include <paradox.h>
}

#include <iconv.h>

#include <cstring>
#include <memory>

namespace corvane::paradox::testing {

namespace {

struct ErrorSink {
  std::string first;
};

void OnPxError(pxdoc_t*, int, const char* msg, void* data) {
  auto* sink = static_cast<ErrorSink*>(data);
  if (sink->first.empty()) sink->first = msg;
}

// pxlib frees what it allocated itself, so values are built in its heap.
char* PxStrdup(pxdoc_t* doc, const std::string& s) {
  auto* p = static_cast<char*>(doc->malloc(doc, s.size() + 1, "value"));
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  return p;
}

struct ValueFiller {
  pxval_t* v;
  pxdoc_t* doc;
  void operator()(std::monostate) const { v->isnull = 1; }
  void operator()(long x) const { v->value.lval = x; }
  void operator()(double x) const { v->value.dval = x; }
  void operator()(const std::string& s) const {
    v->value.str.val = PxStrdup(doc, s);
    v->value.str.len = static_cast<int>(s.size());
  }
};

std::string Encode(const std::string& utf8, int code_page) {
  iconv_t cd = iconv_open(("CP" + std::to_string(code_page)).c_str(), "UTF-8");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* o = out.data();
  size_t o_left = out.size();
  iconv(cd, &in, &in_left, &o, &o_left);
  iconv_close(cd);
  out.resize(out.size() - o_left);
  return out;
}

}  // namespace

PxlibTable& PxlibTable::Field(const std::string& name, char type, int size) {
  fields_.push_back({name, type, size});
  return *this;
}

PxlibTable& PxlibTable::Row(std::vector<PxlibValue> values) {
  rows_.push_back(std::move(values));
  return *this;
}

std::string PxlibTable::Write(const std::string& path) const {
  ErrorSink sink;
  pxdoc_t* doc = PX_new3(OnPxError, nullptr, nullptr, nullptr, &sink);
  const int n = static_cast<int>(fields_.size());
  auto* pxf = static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * n, "fields"));
  for (int i = 0; i < n; ++i) {
    pxf[i].px_fname = PxStrdup(doc, fields_[i].name);
    pxf[i].px_ftype = fields_[i].type;
    pxf[i].px_flen = fields_[i].size;
    pxf[i].px_fdc = 0;
  }
  if (PX_create_file(doc, pxf, n, path.c_str(), pxfFileTypNonIndexDB) < 0) {
    PX_delete(doc);
    return "pxlib cannot create " + path + ": " + sink.first;
  }
  // pxlib's own recoding is unreliable here: Alpha text is converted with
  // iconv below and pxlib copies the bytes.
  PX_set_value(doc, "codepage", static_cast<float>(code_page_));
  for (const auto& row : rows_) {
    std::vector<pxval_t*> vals(n);
    for (int i = 0; i < n; ++i) {
      vals[i] = static_cast<pxval_t*>(doc->malloc(doc, sizeof(pxval_t), "val"));
      std::memset(vals[i], 0, sizeof(pxval_t));
      vals[i]->type = fields_[i].type;
      PxlibValue v = i < static_cast<int>(row.size()) ? row[i] : PxlibValue{};
      if (fields_[i].type == 0x01 && std::holds_alternative<std::string>(v)) {
        v = Encode(std::get<std::string>(v), code_page_);
      }
      std::visit(ValueFiller{vals[i], doc}, v);
    }
    if (PX_insert_record(doc, vals.data()) < 0) sink.first = "insert failed: " + sink.first;
    for (int i = 0; i < n; ++i) {
      if (i < static_cast<int>(row.size()) && std::holds_alternative<std::string>(row[i])) {
        doc->free(doc, vals[i]->value.str.val);
      }
      doc->free(doc, vals[i]);
    }
  }
  PX_close(doc);
  PX_delete(doc);
  return sink.first;
}

}  // namespace corvane::paradox::testing
