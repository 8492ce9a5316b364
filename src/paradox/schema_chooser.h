// Chooses the Paradox field for each column of a staged table so that every
// value is stored exactly, from the column's declared type word and a first
// pass over all its values.
//
// Rules (the first that holds every non-empty value of the column wins):
//   INT, DECIMAL         BCD of scale s when all are plain decimals with the
//                        same s > 0 places ("12.3450", as numeric(12,4)
//                        prints) that fit 32 digits: it reads back as the
//                        same text, trailing zeros included. Then as FLOAT.
//   FLOAT                Long integer when all are whole numbers within
//                        +-2147483647; Number when a double keeps each one
//                        (it reads back as the same decimal value); BCD with
//                        the largest scale seen when all fit 32 digits;
//                        otherwise as text.
//   DATETIME             Date when all are dates; Timestamp when all are
//                        dates with times to the millisecond; otherwise text.
//   OLEOBJECT            Binary when all are \x hex; otherwise text.
//   MEMO                 Memo.
//   VARCHAR and others   text: Logical when every value is exactly True or
//                        False (read back as the same words); else Alpha as
//                        wide as the longest value in code-page bytes (at
//                        least 1), Memo beyond 255 bytes or for values with
//                        a NUL. Texts such as "007", "1.50", money amounts or
//                        uuids stay text: a number field would change them.
//   ALPHAMEMO            Alpha or Memo as for VARCHAR, never Logical.
// A column may name the exact field it wants; it gets it when that field
// stores every value of the column, else the field its word gives.
// A column without any value gets the usual field of its word: Long
// integer, Number, Timestamp, Binary, Memo, or Alpha of width 1.
// Alpha fields become Memo, widest first, while the record would not fit a
// 4 KiB block, so that no value has to be cut.
// The code page is the first of the export code pages that holds every
// name and text value (1252 when that does), unless one is forced. A value
// that no code page holds together with the rest is left to the writer,
// which refuses that row with a message.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "paradox/code_page.h"
#include "paradox/format.h"

namespace corvane::paradox {

class SchemaChooser {
 public:
  struct Column {
    std::string name;
    std::string type_word;                          // as in CREATE TABLE, any case
    std::optional<FieldInfo> exact = std::nullopt;  // wanted when it holds every value
  };
  // `code_page` 0: chosen by the names and the text.
  explicit SchemaChooser(std::vector<Column> columns, int code_page = 0);
  // The table's own name is stored in its header in the same code page.
  void AdmitName(const std::string& name);

  // One row, one Cell per column (extra cells are ignored, missing ones
  // count as NULL).
  void Observe(const std::vector<Cell>& row);
  // The same for a row given as texts, the empty text for NULL.
  void Observe(std::span<const std::string_view> row);
  // The same, where `bytes` flags binary values given as their bytes
  // rather than their "\\x" hex text; they count as that text would.
  void Observe(std::span<const std::string_view> row, std::span<const char> bytes);
  uint64_t rows_observed() const { return rows_; }

  // The fields, in column order, ready for TableWriter::Create.
  std::vector<FieldInfo> Choose() const;
  // The code page the table's text is to be written in.
  int code_page() const;

 private:
  struct Stats {
    uint64_t values = 0;
    size_t max_chars = 0;  // code points: bytes in a single-byte code page
    size_t max_wide = 0;   // at most the bytes in a double-byte one
    bool has_nul = false;
    bool all_logical = true;
    bool all_decimal = true;
    bool all_long = true;
    bool negative_zero = false;
    bool all_double = true;
    size_t max_int_digits = 0;
    size_t max_frac_digits = 0;
    int scale = -1;  // places every value shows; -1 before the first, 0 when mixed
    bool all_date = true;
    bool all_timestamp = true;
    bool all_hex = true;
    bool exact_fits = true;
  };
  bool ExactHolds(const FieldInfo& f, std::string_view text) const;
  bool AlphaHolds(const FieldInfo& f, const Stats& s) const;
  // What a column's values are checked for: only what its word can become.
  enum class Kind { kNumber, kDateTime, kBinary, kMemo, kText };
  void ObserveValue(size_t column, std::string_view text);
  void ObserveBytes(size_t column, std::string_view bytes);
  void ObserveText(Stats& s, std::string_view text, bool ascii) const;
  // True when `text` read as a number.
  bool ObserveNumber(Stats& s, std::string_view text) const;
  FieldInfo ChooseOne(const Column& column, const Stats& s) const;
  FieldInfo AsText(const std::string& name, const Stats& s) const;

  std::vector<Column> columns_;
  std::vector<Kind> kinds_;
  std::vector<Stats> stats_;
  mutable std::vector<unsigned char> scratch_;
  CodePageChoice pages_;
  uint64_t rows_ = 0;
};

}  // namespace corvane::paradox
