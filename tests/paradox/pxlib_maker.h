// Tables written by pxlib, the independent Paradox library, for checking
// our reader against files we did not write. Tables without blob fields
// only: Debian's pxlib aborts on .mb files.
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace corvane::paradox::testing {

// NULL, an integer (S, I, +, D in days, T in ms, L 0/1), a double
// (N, $, @ in ms) or text (A in UTF-8, Y as raw bytes).
using PxlibValue = std::variant<std::monostate, long, double, std::string>;

class PxlibTable {
 public:
  // `code_page` is stored in the header and Alpha text is converted to it.
  explicit PxlibTable(int code_page = 1252) : code_page_(code_page) {}
  PxlibTable& Field(const std::string& name, char type, int size);
  PxlibTable& Row(std::vector<PxlibValue> values);
  // Writes the table; returns an error text, empty on success.
  std::string Write(const std::string& path) const;

 private:
  struct Spec {
    std::string name;
    char type;
    int size;
  };
  int code_page_;
  std::vector<Spec> fields_;
  std::vector<std::vector<PxlibValue>> rows_;
};

}  // namespace corvane::paradox::testing
