#include "paradox/schema_chooser.h"

#include <algorithm>
#include <cctype>

#include "base/ascii.h"
#include "base/moved_bytes.h"
#include "base/utf8.h"
#include "paradox/blob_writer.h"
#include "paradox/code_page.h"
#include "paradox/field_encode.h"
#include "paradox/value_parse.h"

namespace corvane::paradox {
namespace {

constexpr size_t kMaxAlpha = 255;
constexpr int kMemoSize = 20;    // a 10-byte leader, then the reference
constexpr int kBinarySize = 10;  // no leader: binary data lives in the .mb
// Records stay within a 4 KiB block, the size every Paradox tool reads.
constexpr int kMaxRecord = 4096 - kBlockHeaderSize;
constexpr size_t kLongDigits = 10;
constexpr int64_t kLongMax = 2147483647;

bool FitsLong(const DecimalView& d) {
  if (!d.frac_digits.empty() || d.int_digits.size() > kLongDigits) return false;
  int64_t v = 0;
  for (char c : d.int_digits) v = v * 10 + (c - '0');
  return v <= kLongMax;
}

// The places of a plain decimal that a BCD field of that scale prints back
// unchanged: [-](0|[1-9]digits).digits, not a negative zero. 0 otherwise.
int PlainScale(std::string_view text) {
  const size_t dot = text.find('.');
  const size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
  if (dot == std::string_view::npos || dot == start || dot + 1 == text.size()) return 0;
  if (text[start] == '0' && dot != start + 1) return 0;
  bool nonzero = false;
  for (size_t i = start; i < text.size(); ++i) {
    if (i == dot) continue;
    if (text[i] < '0' || text[i] > '9') return 0;
    nonzero |= text[i] != '0';
  }
  if (start == 1 && !nonzero) return 0;
  return static_cast<int>(text.size() - dot - 1);
}

// A field with its record size filled in.
FieldInfo Field(const std::string& name, FieldType type, int size = 0, int scale = 0) {
  FieldInfo f{name, type, size, scale};
  (void)NormalizeField(f);  // every definition made here is a valid one
  return f;
}

// Turns the widest Alpha fields into Memo until the record fits a block.
void FitRecord(std::vector<FieldInfo>& fields) {
  auto total = [&] {
    int sum = 0;
    for (const FieldInfo& f : fields) sum += f.size;
    return sum;
  };
  while (total() > kMaxRecord) {
    auto widest =
        std::max_element(fields.begin(), fields.end(), [](const FieldInfo& a, const FieldInfo& b) {
          auto width = [](const FieldInfo& f) { return f.type == FieldType::kAlpha ? f.size : 0; };
          return width(a) < width(b);
        });
    if (widest == fields.end() || widest->type != FieldType::kAlpha || widest->size <= kMemoSize) {
      return;  // nothing left to move out; the writer picks a larger block
    }
    *widest = Field(widest->name, FieldType::kMemo, kMemoSize);
  }
}

}  // namespace

SchemaChooser::SchemaChooser(std::vector<Column> columns, int code_page)
    : columns_(std::move(columns)), stats_(columns_.size()), pages_(code_page) {
  for (const Column& c : columns_) AdmitName(c.name);
  for (const Column& c : columns_) {
    const std::string word = AsciiUpperCase(c.type_word);
    Kind kind = Kind::kText;
    if (word == "INT" || word == "DECIMAL" || word == "FLOAT") kind = Kind::kNumber;
    if (word == "DATETIME") kind = Kind::kDateTime;
    if (word == "OLEOBJECT") kind = Kind::kBinary;
    if (word == "MEMO") kind = Kind::kMemo;
    kinds_.push_back(kind);
  }
  for (Column& c : columns_) {
    if (c.exact && !NormalizeField(*c.exact).ok()) c.exact.reset();
    if (c.exact) c.exact->name = c.name;
  }
}

// Encoding the value is the test: the writer stores exactly what encodes.
// Text depends on the code page, chosen only at the end: an Alpha is
// measured then, and a Memo holds any text.
bool SchemaChooser::ExactHolds(const FieldInfo& f, std::string_view text) const {
  if (f.type == FieldType::kAlpha || f.type == FieldType::kMemo) return true;
  const CellView cell{false, text};
  if (IsBlobType(f.type)) {
    auto payload = BlobPayload(f, cell, kDefaultCodePage);
    return payload.ok() && payload->size() <= BlobWriter::kMaxBlobSize;
  }
  scratch_.assign(static_cast<size_t>(f.size), 0);
  return EncodeScalar(f, cell, kDefaultCodePage, scratch_.data()).ok();
}

void SchemaChooser::AdmitName(const std::string& name) {
  (void)pages_.Admit(name);  // a name no code page takes is refused by the writer
}

int SchemaChooser::code_page() const {
  const int best = pages_.Best();
  return best != 0 ? best : kDefaultCodePage;
}

void SchemaChooser::Observe(const std::vector<Cell>& row) {
  ++rows_;
  for (size_t i = 0; i < columns_.size() && i < row.size(); ++i) {
    if (!row[i].null) ObserveValue(i, row[i].text);
  }
}

void SchemaChooser::Observe(std::span<const std::string_view> row) {
  ++rows_;
  for (size_t i = 0; i < columns_.size() && i < row.size(); ++i) ObserveValue(i, row[i]);
}

void SchemaChooser::Observe(std::span<const std::string_view> row, std::span<const char> bytes) {
  ++rows_;
  for (size_t i = 0; i < columns_.size() && i < row.size(); ++i) {
    if (i < bytes.size() && bytes[i] != 0) {
      ObserveBytes(i, row[i]);
    } else {
      ObserveValue(i, row[i]);
    }
  }
}

// What the value's hex text would show, without making it: a text of
// 2 + 2n ASCII characters that is hex, no number, no date, neither True
// nor False. Only its length and the payload's size depend on the bytes.
void SchemaChooser::ObserveBytes(size_t column, std::string_view bytes) {
  constexpr size_t kScalarBytes = 255;  // no field but a blob holds more
  const uint64_t chars = 2 + 2 * uint64_t{bytes.size()};
  if (bytes.size() <= kScalarBytes) return ObserveValue(column, HexText(bytes));
  Stats& s = stats_[column];
  ++s.values;
  if (const std::optional<FieldInfo>& exact = columns_[column].exact; s.exact_fits && exact) {
    const FieldInfo& f = *exact;
    const bool prefixed = f.type == FieldType::kGraphic || f.type == FieldType::kOle;
    const uint64_t payload = bytes.size() + (prefixed ? kBlobPrefixSize : 0);
    s.exact_fits = f.type == FieldType::kAlpha || f.type == FieldType::kMemo ||
                   (IsBlobType(f.type) && bytes.size() <= UINT32_MAX - kBlobPrefixSize &&
                    payload <= BlobWriter::kMaxBlobSize);
  }
  switch (kinds_[column]) {
    case Kind::kMemo:
      return;
    case Kind::kNumber:
      s.all_decimal = false;
      break;
    case Kind::kDateTime:
      s.all_date = s.all_timestamp = false;
      break;
    case Kind::kBinary:
    case Kind::kText:
      break;
  }
  s.all_logical = false;
  s.max_chars = std::max<size_t>(s.max_chars, static_cast<size_t>(chars));
  s.max_wide = std::max<size_t>(s.max_wide, static_cast<size_t>(chars));
}

void SchemaChooser::ObserveValue(size_t column, std::string_view text) {
  if (text.empty()) return;  // stored as NULL whatever the field
  Stats& s = stats_[column];
  ++s.values;
  const std::optional<FieldInfo>& exact = columns_[column].exact;
  if (s.exact_fits && exact) s.exact_fits = ExactHolds(*exact, text);
  // A number or a date read as one is ASCII without NUL, and no True or False.
  bool read = false;
  switch (kinds_[column]) {
    case Kind::kMemo:
      break;
    case Kind::kNumber:
      read = ObserveNumber(s, text);
      break;
    case Kind::kDateTime: {
      const bool date = s.all_date && ParseDate(text);
      const bool timestamp = s.all_timestamp && !date && ParseTimestampMs(text);
      // A date is no timestamp, and a timestamp no date.
      s.all_date = date;
      s.all_timestamp = timestamp;
      read = date || timestamp;
      break;
    }
    case Kind::kBinary:
      if (s.all_hex && !IsHex(text)) s.all_hex = false;
      break;
    case Kind::kText:
      break;
  }
  if (read) {
    s.all_logical = false;
    s.max_chars = std::max(s.max_chars, text.size());
    s.max_wide = std::max(s.max_wide, text.size());
    return;
  }
  const bool ascii = utf8::IsAscii(text);
  // Text no code page left can hold is refused by the writer, with the reason.
  if (!ascii) (void)pages_.Admit(text);
  if (kinds_[column] != Kind::kMemo) ObserveText(s, text, ascii);  // a Memo whatever it holds
}

void SchemaChooser::ObserveText(Stats& s, std::string_view text, bool ascii) const {
  if (s.all_logical && text != "True" && text != "False") s.all_logical = false;
  if (text.find('\0') != std::string_view::npos) s.has_nul = true;
  // Bytes in the code page chosen at the end: one per character in a
  // single-byte one, at most two in a double-byte one.
  size_t chars = text.size(), wide = text.size();
  if (!ascii) {
    chars = wide = 0;
    for (char c : text) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) {
        ++chars;
        ++wide;
      } else if (b >= 0xC0) {
        ++chars;
        wide += 2;
      }
    }
  }
  s.max_chars = std::max(s.max_chars, chars);
  s.max_wide = std::max(s.max_wide, wide);
}

bool SchemaChooser::ObserveNumber(Stats& s, std::string_view text) const {
  if (!s.all_decimal) return false;
  // Most numbers are plain integers: the same findings without a Decimal.
  if (auto v = ParsePlainInteger(text); v && !(text[0] == '-' && *v == 0)) {
    uint64_t magnitude = *v < 0 ? 0 - static_cast<uint64_t>(*v) : static_cast<uint64_t>(*v);
    if (s.all_long && magnitude > static_cast<uint64_t>(kLongMax)) s.all_long = false;
    // Up to 15 digits every integer is a double exactly.
    constexpr uint64_t kExactBelow = 1000000000000000;
    if (s.all_double && magnitude >= kExactBelow && !DoubleHoldsExactly(text)) s.all_double = false;
    // Digits without leading zeros, as a Decimal counts them.
    const size_t sign = text[0] == '-' ? 1 : 0;
    const size_t first = std::min(text.find_first_not_of('0', sign), text.size());
    s.max_int_digits = std::max(s.max_int_digits, text.size() - first);
    s.scale = 0;  // no places
    return true;
  }
  Decimal made;
  const std::optional<DecimalView> d = ParseDecimalDigits(text, made);
  if (!d) {
    s.all_decimal = false;
    return false;
  }
  if (s.all_long && !FitsLong(*d)) s.all_long = false;
  if (text[0] == '-' && d->int_digits.empty() && d->frac_digits.empty()) s.negative_zero = true;
  if (s.all_double && !DoubleHoldsExactly(text)) s.all_double = false;
  s.max_int_digits = std::max(s.max_int_digits, d->int_digits.size());
  s.max_frac_digits = std::max(s.max_frac_digits, d->frac_digits.size());
  const int places = PlainScale(text);
  if (s.scale == -1) s.scale = places;
  if (s.scale != places) s.scale = 0;
  return true;
}

bool SchemaChooser::AlphaHolds(const FieldInfo& f, const Stats& s) const {
  if (f.type != FieldType::kAlpha) return true;
  const size_t bytes = IsDoubleByteCodePage(code_page()) ? s.max_wide : s.max_chars;
  return !s.has_nul && bytes <= static_cast<size_t>(f.size);
}

FieldInfo SchemaChooser::AsText(const std::string& name, const Stats& s) const {
  if (s.values > 0 && s.all_logical) return Field(name, FieldType::kLogical);
  const size_t bytes = IsDoubleByteCodePage(code_page()) ? s.max_wide : s.max_chars;
  if (s.has_nul || bytes > kMaxAlpha) return Field(name, FieldType::kMemo, kMemoSize);
  return Field(name, FieldType::kAlpha, static_cast<int>(std::max<size_t>(1, bytes)));
}

FieldInfo SchemaChooser::ChooseOne(const Column& column, const Stats& s) const {
  if (column.exact && s.exact_fits && AlphaHolds(*column.exact, s)) return *column.exact;
  const std::string word = AsciiUpperCase(column.type_word);
  const std::string& name = column.name;
  const bool empty = s.values == 0;
  if (word == "ALPHAMEMO") {
    Stats text = s;
    text.all_logical = false;
    return AsText(name, text);
  }
  if (word == "INT" || word == "DECIMAL" || word == "FLOAT") {
    if (empty) return Field(name, word == "INT" ? FieldType::kLong : FieldType::kNumber);
    if (word != "FLOAT" && s.all_decimal && s.scale > 0 &&
        s.max_int_digits + static_cast<size_t>(s.scale) <= kBcdDigits) {
      return Field(name, FieldType::kBcd, 0, s.scale);
    }
    // -0 needs a Number: a Long integer has no negative zero. Single floats
    // come as INT columns, so the column's word does not tell.
    if (s.all_decimal && s.all_long && !s.negative_zero) return Field(name, FieldType::kLong);
    if (s.all_decimal && s.all_double) return Field(name, FieldType::kNumber);
    if (s.all_decimal && s.max_int_digits + s.max_frac_digits <= kBcdDigits) {
      return Field(name, FieldType::kBcd, 0, static_cast<int>(s.max_frac_digits));
    }
    return AsText(name, s);
  }
  if (word == "DATETIME") {
    if (empty) return Field(name, FieldType::kTimestamp);
    if (s.all_date) return Field(name, FieldType::kDate);
    if (s.all_timestamp) return Field(name, FieldType::kTimestamp);
    return AsText(name, s);
  }
  if (word == "OLEOBJECT") {
    if (empty || s.all_hex) return Field(name, FieldType::kBinary, kBinarySize);
    return AsText(name, s);
  }
  if (word == "MEMO") return Field(name, FieldType::kMemo, kMemoSize);
  return AsText(name, s);
}

std::vector<FieldInfo> SchemaChooser::Choose() const {
  std::vector<FieldInfo> fields;
  for (size_t i = 0; i < columns_.size(); ++i) fields.push_back(ChooseOne(columns_[i], stats_[i]));
  FitRecord(fields);
  return fields;
}

}  // namespace corvane::paradox
