#include "transfer/field_types.h"

#include <algorithm>
#include <array>
#include <utility>

#include "base/ascii.h"


namespace corvane::transfer {

namespace {

struct NamedCode {
  int16_t code;
  const char* name;
};

// The ADO DataTypeEnum names, in code order.
constexpr std::array<NamedCode, 39> kTypeNames = {{
    {0, "adEmpty"},
    {2, "adSmallInt"},
    {3, "adInteger"},
    {4, "adSingle"},
    {5, "adDouble"},
    {6, "adCurrency"},
    {7, "adDate"},
    {8, "adBSTR"},
    {9, "adIDispatch"},
    {10, "adError"},
    {11, "adBoolean"},
    {12, "adVariant"},
    {13, "adIUnknown"},
    {14, "adDecimal"},
    {16, "adTinyInt"},
    {17, "adUnsignedTinyInt"},
    {18, "adUnsignedSmallInt"},
    {19, "adUnsignedInt"},
    {20, "adBigInt"},
    {21, "adUnsignedBigInt"},
    {64, "adFileTime"},
    {72, "adGUID"},
    {128, "adBinary"},
    {129, "adChar"},
    {130, "adWChar"},
    {131, "adNumeric"},
    {132, "adUserDefined"},
    {133, "adDBDate"},
    {134, "adDBTime"},
    {135, "adDBTimeStamp"},
    {136, "adChapter"},
    {138, "adPropVariant"},
    {139, "adVarNumeric"},
    {200, "adVarChar"},
    {201, "adLongVarChar"},
    {202, "adVarWChar"},
    {203, "adLongVarWChar"},
    {204, "adVarBinary"},
    {205, "adLongVarBinary"},
}};

// The class tests, in the order they are tried: the first match wins, which
// is why "char" claims the long text types before "longvar" is reached.
constexpr std::array<std::pair<ColumnClass, std::string_view>, 10> kClassTests = {{
    {ColumnClass::kChar, "char"},
    {ColumnClass::kDecimal, "decimal"},
    {ColumnClass::kSingle, "single"},
    {ColumnClass::kInt, "int"},
    {ColumnClass::kAdLongVarBinary, "adlongvarbinary"},
    {ColumnClass::kLongVar, "longvar"},
    {ColumnClass::kNumeric, "numeric"},
    {ColumnClass::kDate, "date"},
    {ColumnClass::kTimestamp, "timestamp"},
    {ColumnClass::kDouble, "double"},
}};

const Value& EmptyText() {
  static const Value kEmpty = Value::Text("");
  return kEmpty;
}

}  // namespace

std::string FieldTypeName(int16_t code) {
  for (const NamedCode& entry : kTypeNames) {
    if (entry.code == code) return entry.name;
  }
  return {};
}

ColumnClass ColumnClassOf(int type_code) {
  const std::string name = AsciiLowerCase(FieldTypeName(static_cast<int16_t>(type_code)));
  for (const auto& [column_class, test] : kClassTests) {
    if (name.find(test) != std::string::npos) return column_class;
  }
  return ColumnClass::kNone;
}

std::string_view ColumnClassName(ColumnClass column_class) {
  for (const auto& [c, test] : kClassTests) {
    if (c == column_class) return test;
  }
  return {};
}

std::string_view PostgresColumnTypeText(ColumnClass column_class) {
  switch (column_class) {
    case ColumnClass::kDecimal:
    case ColumnClass::kSingle:
    case ColumnClass::kInt:
    case ColumnClass::kNumeric:
    case ColumnClass::kDouble:
      return "\" NUMERIC,";
    case ColumnClass::kTimestamp:
      return "\" TEXt,";
    case ColumnClass::kChar:
    case ColumnClass::kAdLongVarBinary:
    case ColumnClass::kLongVar:
    case ColumnClass::kDate:
    case ColumnClass::kNone:
      break;
  }
  return "\" TEXT,";
}

const Value& IfNull(const Value& value, const Value& replacement) {
  return value.is_null() ? replacement : value;
}

const std::string& ValueText(const Value& value) { return IfNull(value, EmptyText()).text(); }

// From this size on a value's quotes are counted to size its statement.
constexpr size_t kCountedQuotes = size_t{1} << 20;

void AppendQuotedText(std::string& out, std::string_view text) {
  size_t start = 0;
  for (size_t quote = text.find('\''); quote != std::string_view::npos;
       quote = text.find('\'', start)) {
    out.append(text, start, quote + 1 - start);
    out += '\'';
    start = quote + 1;
  }
  out.append(text, start, std::string_view::npos);
}

std::string QuotedText(std::string_view text) {
  std::string out = "'";
  AppendQuotedText(out, text);
  return out + "'";
}

void RowStatementBuilder::Begin(std::string_view head) { out_.assign(head); }

void RowStatementBuilder::Add(const Value& value) {
  const std::string& text = ValueText(value);
  if (text.empty()) {
    // Take back the quote that would have opened this value.
    if (!out_.empty()) out_.pop_back();
    out_ += "NULL, '";
    return;
  }
  AppendQuotedText(out_, text);
  out_ += "', '";
}

void RowStatementBuilder::Finish() {
  // Drop the ", '" that would have opened a next value.
  out_.resize(out_.size() >= 3 ? out_.size() - 3 : 0);
  out_ += ')';
}

void BuildRowStatement(std::string& out, std::string_view head, const RecordSet& rows) {
  RowStatementBuilder builder(out);
  builder.Begin(head);
  const int count = rows.FieldCount();
  for (int i = 0; i < count; ++i) builder.Add(rows.FieldValue(i));
  builder.Finish();
}

std::string RowStatement(std::string_view head, const RecordSet& rows) {
  std::string out;
  BuildRowStatement(out, head, rows);
  return out;
}

void BuildRowStatement(std::string& out, std::string_view head, const std::vector<Value>& values) {
  // Sized once: growing by doubling would hold a large value's text twice
  // (and reserve room for a third) while it is copied over.
  size_t size = head.size() + 1;
  for (const Value& v : values) {
    const std::string& text = ValueText(v);
    size += text.size() + 8;
    if (text.size() >= kCountedQuotes) size += static_cast<size_t>(std::count(text.begin(), text.end(), '\''));
  }
  if (size > out.capacity()) {
    out.clear();
    out.reserve(size);
  }
  RowStatementBuilder builder(out);
  builder.Begin(head);
  for (const Value& v : values) builder.Add(v);
  builder.Finish();
}

std::string RowStatement(std::string_view head, const std::vector<Value>& values) {
  std::string out;
  BuildRowStatement(out, head, values);
  return out;
}

std::string PostgresInsertHead(std::string_view table) {
  return "INSERT INTO " + QuotePostgresName(table) + " VALUES('";
}

}  // namespace corvane::transfer
