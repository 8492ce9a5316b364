// The peer for the read benchmark: reads a table with pxlib and prints every
// row as CSV-like text (same value forms as corvane-cli dump, stdio output).
extern "C" {
#include <paradox.h>
}

#include <cstdio>
#include <cstdlib>

namespace {

void PrintValue(pxdoc_t* doc, const pxfield_t& f, const pxval_t* v) {
  if (v->isnull) return;
  switch (f.px_ftype) {
    case pxfAlpha:
      std::fputs(v->value.str.val, stdout);
      break;
    case pxfNumber:
    case pxfCurrency:
      std::printf("%.17g", v->value.dval);
      break;
    case pxfDate: {
      int y = 0, m = 0, d = 0;
      // pxlib's serial day numbers start at the Julian day of 0001-01-01.
      PX_SdnToGregorian(v->value.lval + 1721425L, &y, &m, &d);
      std::printf("%04d-%02d-%02d", y, m, d);
      break;
    }
    case pxfTime: {
      const long ms = v->value.lval;
      std::printf("%02ld:%02ld:%02ld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
      break;
    }
    case pxfTimestamp: {
      char* s = PX_timestamp2string(doc, v->value.dval, "Y-m-d H:i:s");
      std::fputs(s, stdout);
      doc->free(doc, s);
      break;
    }
    case pxfLogical:
      std::fputs(v->value.lval ? "True" : "False", stdout);
      break;
    default:
      std::printf("%ld", v->value.lval);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pxlib_dump FILE.db\n");
    return 2;
  }
  pxdoc_t* doc = PX_new();
  if (PX_open_file(doc, argv[1]) < 0) return 1;
  const int n = PX_get_num_fields(doc);
  pxfield_t* fields = PX_get_fields(doc);
  for (int i = 0; i < n; ++i) std::printf(i ? ",%s" : "%s", fields[i].px_fname);
  std::putchar('\n');
  const int rows = PX_get_num_records(doc);
  for (int r = 0; r < rows; ++r) {
    pxval_t** vals = PX_retrieve_record(doc, r);
    if (!vals) return 1;
    for (int i = 0; i < n; ++i) {
      if (i) std::putchar(',');
      PrintValue(doc, fields[i], vals[i]);
      if (fields[i].px_ftype == pxfAlpha && vals[i]->value.str.val)
        doc->free(doc, vals[i]->value.str.val);
      doc->free(doc, vals[i]);
    }
    doc->free(doc, vals);
    std::putchar('\n');
  }
  PX_close(doc);
  PX_delete(doc);
  return 0;
}
