#include "postgres/pg_copy_text.h"

#include <cstdint>
#include <cstring>

#include "base/moved_bytes.h"

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
// Decodes `in[0, size)` into its own start and returns the decoded size:
// each escape is at least as long as the byte it stands for.
size_t Unescape(char* in, size_t size) {
  size_t out = 0;
  for (size_t i = 0; i < size; ++i) {
    const char* slash = static_cast<const char*>(std::memchr(in + i, '\\', size - i));
    const size_t at = slash ? static_cast<size_t>(slash - in) : size;
    if (at + 1 >= size) {  // no escape left (a lone trailing backslash stays)
      std::memmove(in + out, in + i, size - i);
      return out + size - i;
    }
    std::memmove(in + out, in + i, at - i);
    out += at - i;
    i = at + 1;
    const char c = in[i];
    char v = c;
    switch (c) {
      case 'b':
        v = '\b';
        break;
      case 'f':
        v = '\f';
        break;
      case 'n':
        v = '\n';
        break;
      case 'r':
        v = '\r';
        break;
      case 't':
        v = '\t';
        break;
      case 'v':
        v = '\v';
        break;
      case 'x': {
        int h = i + 1 < size ? HexDigit(in[i + 1]) : -1;
        if (h < 0) break;
        ++i;
        if (i + 1 < size && HexDigit(in[i + 1]) >= 0) h = h * 16 + HexDigit(in[++i]);
        v = static_cast<char>(h);
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          int o = c - '0';
          for (int k = 0; k < 2 && i + 1 < size && in[i + 1] >= '0' && in[i + 1] <= '7'; ++k)
            o = o * 8 + (in[++i] - '0');
          v = static_cast<char>(o);
        }
    }
    in[out++] = v;
  }
  return out;
}

}  // namespace

std::string CopyRow::TakeField(size_t i) {
  const std::string_view f = fields_[i];
  fields_[i] = std::string_view();
  return MoveOutOf(const_cast<char*>(f.data()), f.size());
}

std::string CopyRow::TakeFieldAsHex(size_t i) {
  const std::string_view f = fields_[i];
  fields_[i] = std::string_view();
  return HexOutOf(const_cast<char*>(f.data()), f.size());
}

bool CopyRow::DecodeBinary(char* message, size_t size, size_t columns, bool& trailer) {
  static constexpr char kSignature[] = "PGCOPY\n\377\r\n";  // and its NUL: 11 bytes
  fields_.clear();
  nulls_.clear();
  trailer = false;
  size_t at = 0;
  auto take = [&](size_t n, uint32_t& v) {
    if (size - at < n) return false;
    v = 0;
    for (size_t k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(message[at++]);
    return true;
  };
  uint32_t v = 0;
  if (!header_seen_) {
    if (size < sizeof kSignature || std::memcmp(message, kSignature, sizeof kSignature) != 0) {
      return false;
    }
    at = sizeof kSignature;
    uint32_t extension = 0;
    if (!take(4, v) || !take(4, extension) || size - at < extension) return false;
    at += extension;
    header_seen_ = true;
  }
  if (!take(2, v)) return false;
  if (v == 0xFFFF) {
    trailer = true;
    return at == size;
  }
  if (v != columns) return false;
  for (size_t i = 0; i < columns; ++i) {
    if (!take(4, v)) return false;
    const bool null = v == 0xFFFFFFFF;
    if (!null && size - at < v) return false;
    fields_.push_back(null ? std::string_view() : std::string_view(message + at, v));
    nulls_.push_back(null);
    if (!null) at += v;
  }
  return at == size;
}

bool CopyRow::Decode(char* line, size_t size, size_t columns) {
  if (size > 0 && line[size - 1] == '\n') --size;
  fields_.clear();
  nulls_.clear();
  if (columns == 0) return size == 0;  // a row of no columns is one empty line
  size_t start = 0;
  for (;;) {
    const char* tab = static_cast<const char*>(std::memchr(line + start, '\t', size - start));
    const bool last = tab == nullptr;
    const size_t end = last ? size : static_cast<size_t>(tab - line);
    if (fields_.size() == columns) return false;
    size_t n = end - start;
    const bool null = n == 2 && line[start] == '\\' && line[start + 1] == 'N';
    if (!null && std::memchr(line + start, '\\', n) != nullptr) n = Unescape(line + start, n);
    fields_.push_back(null ? std::string_view() : std::string_view(line + start, n));
    nulls_.push_back(null);
    if (last) break;
    start = end + 1;
  }
  return fields_.size() == columns;
}

}  // namespace corvane
