// libFuzzer target for the .val and secondary index decoders. The input is
// decoded as both against a fixed table of every scalar kind, keyed on its
// first field.
#include <cstdint>
#include <string_view>

#include "paradox/secondary_index.h"
#include "paradox/validity.h"

namespace {

corvane::paradox::TableInfo MakeTable() {
  using corvane::paradox::FieldType;
  corvane::paradox::TableInfo t;
  t.code_page = 1252;
  t.key_fields = 1;
  t.fields = {{"Id", FieldType::kLong, 4, 0},
              {"Name", FieldType::kAlpha, 20, 0},
              {"When", FieldType::kDate, 4, 0},
              {"Amount", FieldType::kBcd, 17, 2},
              {"Memo", FieldType::kMemo, 11, 0}};
  t.field_numbers = {1, 2, 3, 4, 5};
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const corvane::paradox::TableInfo table = MakeTable();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)corvane::paradox::DecodeValidity(bytes, table, "t.val");
  (void)corvane::paradox::DecodeSecondaryIndex(bytes, size, table, "t.x02");
  return 0;
}
