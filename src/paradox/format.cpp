#include "paradox/format.h"

namespace corvane::paradox {

namespace {

struct TypeNames {
  FieldType type;
  const char* symbol;
  const char* label;
};

constexpr TypeNames kTypeNames[] = {
    {FieldType::kAlpha, "A", "Alpha"},
    {FieldType::kDate, "D", "Date"},
    {FieldType::kShort, "S", "Short"},
    {FieldType::kLong, "I", "Long integer"},
    {FieldType::kMoney, "$", "Money"},
    {FieldType::kNumber, "N", "Number"},
    {FieldType::kLogical, "L", "Logical"},
    {FieldType::kMemo, "M", "Memo"},
    {FieldType::kBinary, "B", "Binary"},
    {FieldType::kFormattedMemo, "F", "Formatted memo"},
    {FieldType::kOle, "O", "OLE"},
    {FieldType::kGraphic, "G", "Graphic"},
    {FieldType::kTime, "T", "Time"},
    {FieldType::kTimestamp, "@", "Timestamp"},
    {FieldType::kAutoIncrement, "+", "Autoincrement"},
    {FieldType::kBcd, "#", "BCD"},
    {FieldType::kBytes, "Y", "Bytes"},
};

const TypeNames* Find(uint8_t code) {
  for (const TypeNames& t : kTypeNames) {
    if (static_cast<uint8_t>(t.type) == code) return &t;
  }
  return nullptr;
}

}  // namespace

bool IsKnownFieldType(uint8_t code) { return Find(code) != nullptr; }

bool IsBlobType(FieldType type) {
  switch (type) {
    case FieldType::kMemo:
    case FieldType::kBinary:
    case FieldType::kFormattedMemo:
    case FieldType::kOle:
    case FieldType::kGraphic:
      return true;
    default:
      return false;
  }
}

const char* TypeSymbol(FieldType type) {
  const TypeNames* t = Find(static_cast<uint8_t>(type));
  return t ? t->symbol : "?";
}

const char* TypeLabel(FieldType type) {
  const TypeNames* t = Find(static_cast<uint8_t>(type));
  return t ? t->label : "unknown";
}

}  // namespace corvane::paradox
