#include "pxlib_index.h"

namespace corvane::paradox::testing {
namespace {

void IgnorePxError(pxdoc_t*, int, const char*, void*) {}

}  // namespace

PxIndexed ReadWithIndex(const std::string& db, const std::string& px, int key_size) {
  PxIndexed out;
  pxdoc_t* doc = PX_new2(IgnorePxError, nullptr, nullptr, nullptr);
  pxdoc_t* index = PX_new2(IgnorePxError, nullptr, nullptr, nullptr);
  if (PX_open_file(doc, db.c_str()) < 0 || PX_open_file(index, px.c_str()) < 0) {
    out.error = "open failed";
  } else if (PX_read_primary_index(index) < 0 || PX_add_primary_index(doc, index) < 0) {
    out.error = "pxlib refused the index";
  } else {
    // pxlib moves the entries to the table once the index is attached.
    pxdoc_t* owner = index->px_indexdata != nullptr ? index : doc;
    const auto* e = static_cast<const pxpindex_t*>(owner->px_indexdata);
    for (int i = 0; i < owner->px_indexdatalen; ++i) {
      if (e[i].level != 1) continue;
      out.entries.push_back(e[i]);
      out.keys.emplace_back(e[i].data, static_cast<size_t>(key_size));
    }
    out.records = PX_get_num_records(doc);
    std::vector<char> record(static_cast<size_t>(PX_get_recordsize(doc)));
    for (int r = 0; r < out.records; ++r) {
      if (PX_get_record(doc, r, record.data()) == nullptr) break;
      out.record_keys.emplace_back(record.data(), static_cast<size_t>(key_size));
    }
  }
  PX_delete(doc);
  PX_delete(index);
  return out;
}

std::string PxlibIndexProblem(const std::string& db, const std::string& px, int key_size) {
  const PxIndexed read = ReadWithIndex(db, px, key_size);
  if (!read.error.empty()) return read.error;
  if (static_cast<int>(read.record_keys.size()) != read.records) {
    return "read " + std::to_string(read.record_keys.size()) + " of " +
           std::to_string(read.records) + " records";
  }
  // The chain is written in block order, so block n's records follow the
  // counts of the entries before it.
  size_t first = 0;
  for (size_t i = 0; i < read.entries.size(); ++i) {
    const pxpindex_t& e = read.entries[i];
    const std::string where =
        "entry " + std::to_string(i + 1) + " (block " + std::to_string(e.blocknumber) + ")";
    if (e.blocknumber != static_cast<int>(i + 1)) return where + " is out of block order";
    if (first >= read.record_keys.size()) return where + " lies past the last record";
    if (read.keys[i] != read.record_keys[first]) return where + " does not hold its block's key";
    first += static_cast<size_t>(e.numrecords);
  }
  if (first != read.record_keys.size())
    return "the entries count " + std::to_string(first) + " records";
  return "";
}

}  // namespace corvane::paradox::testing
