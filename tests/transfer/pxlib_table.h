// Paradox tables made by pxlib, an implementation independent of ours, so
// the transfer tests do not only read what our own writer wrote.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane::testing {

struct PxField {
  std::string name;
  char type;  // pxf* code of paradox.h
  int length = 0;
  int decimals = 0;  // BCD
};

// One value: nullopt for an empty field. Numbers and dates in pxlib's own
// units (days, milliseconds), text in `text`.
struct PxValue {
  std::optional<long> integer;
  std::optional<double> real;
  std::optional<std::string> text;
};
using PxRow = std::vector<PxValue>;

inline PxValue PxInt(long v) { return {v, std::nullopt, std::nullopt}; }
inline PxValue PxReal(double v) { return {std::nullopt, v, std::nullopt}; }
inline PxValue PxText(std::string v) { return {std::nullopt, std::nullopt, std::move(v)}; }
inline PxValue PxNull() { return {}; }

// Writes `path` (a .db file, text and field names written from UTF-8 in
// `code_page`) with the given fields and rows. Returns an error text, empty
// on success.
std::string MakePxTable(const std::string& path, const std::vector<PxField>& fields,
                        const std::vector<PxRow>& rows, int code_page = 1252);

// `utf8` in `code_page`, for the bytes pxlib stores as given (memos).
std::string PxInCodePage(const std::string& utf8, int code_page);

}  // namespace corvane::testing
