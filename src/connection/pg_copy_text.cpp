#include "connection/pg_copy_text.h"

namespace corvane {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The server writes \b \f \n \r \t \v and \\; it reads back octal (\123),
// hex (\x4F) and any other escaped character as itself, so we do too.
void Unescape(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const size_t slash = in.find('\\', i);
    if (slash == std::string_view::npos || slash + 1 == in.size()) {
      out.append(in.substr(i));
      return;
    }
    out.append(in.substr(i, slash - i));
    i = slash + 1;
    const char c = in[i];
    switch (c) {
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'v':
        out.push_back('\v');
        break;
      case 'x': {
        int v = i + 1 < in.size() ? HexDigit(in[i + 1]) : -1;
        if (v < 0) {
          out.push_back('x');
          break;
        }
        ++i;
        if (i + 1 < in.size() && HexDigit(in[i + 1]) >= 0) v = v * 16 + HexDigit(in[++i]);
        out.push_back(static_cast<char>(v));
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          int v = c - '0';
          for (int k = 0; k < 2 && i + 1 < in.size() && in[i + 1] >= '0' && in[i + 1] <= '7'; ++k)
            v = v * 8 + (in[++i] - '0');
          out.push_back(static_cast<char>(v));
        } else {
          out.push_back(c);
        }
    }
  }
}

}  // namespace

std::string CopyTextRow::TakeField(size_t i) {
  std::string out;
  if (i < decoded_.size() && fields_[i].data() == decoded_[i].data()) {
    out.swap(decoded_[i]);
    fields_[i] = std::string_view();
  } else {
    out.assign(fields_[i]);
  }
  return out;
}

bool CopyTextRow::Decode(std::string_view line, size_t columns) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  fields_.clear();
  nulls_.clear();
  if (columns == 0) return line.empty();  // a row of no columns is one empty line
  if (decoded_.size() < columns) decoded_.resize(columns);
  size_t start = 0;
  for (;;) {
    size_t end = line.find('\t', start);
    const bool last = end == std::string_view::npos;
    if (last) end = line.size();
    if (fields_.size() == columns) return false;
    std::string_view f = line.substr(start, end - start);
    const bool null = f == "\\N";
    if (!null && f.find('\\') != std::string_view::npos) {
      Unescape(f, decoded_[fields_.size()]);
      f = decoded_[fields_.size()];
    }
    fields_.push_back(null ? std::string_view() : f);
    nulls_.push_back(null);
    if (last) break;
    start = end + 1;
  }
  return fields_.size() == columns;
}

}  // namespace corvane
