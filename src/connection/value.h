// One column value of one row: the database null, or text in the fixed form
// of its kind (see docs/ARCHITECTURE.md, "Value text forms").
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace corvane {

class Value {
 public:
  Value() = default;  // null
  static Value Null() { return Value(); }
  static Value Text(std::string text) {
    Value v;
    v.null_ = false;
    v.text_ = std::move(text);
    return v;
  }
  static Value Bytes(std::string bytes) {
    Value v;
    v.TakeBytes(bytes);
    return v;
  }
  bool is_null() const { return null_; }
  // The empty text for null. A value kept as bytes becomes its "\\x" hex
  // here, once: only a caller that cannot take the bytes pays for the text.
  const std::string& text() const {
    if (bytes_) ToHex();
    return text_;
  }
  // A large binary value may be kept as its bytes rather than its hex
  // text (half the memory); bytes() then holds them.
  bool is_bytes() const { return bytes_; }
  const std::string& bytes() const { return text_; }
  // The size of text(), without making it.
  size_t text_size() const { return bytes_ ? 2 + 2 * text_.size() : text_.size(); }
  void SetNull() {
    null_ = true;
    bytes_ = false;
    if (text_.capacity() > kKeptCapacity) std::string().swap(text_);
    text_.clear();
  }
  void SetText(std::string_view t) {
    null_ = false;
    bytes_ = false;
    // A buffer a large value left behind is not kept for small ones.
    if (text_.capacity() > kKeptCapacity && t.size() <= kKeptCapacity / 4) std::string().swap(text_);
    text_.assign(t);
  }
  // Takes `t` without copying it; `t` gets this value's old buffer, so
  // a large value costs its size once, not once per layer it passes.
  void TakeText(std::string& t) {
    null_ = false;
    bytes_ = false;
    text_.swap(t);
  }
  // The same for a binary value given as its bytes.
  void TakeBytes(std::string& b) {
    TakeText(b);
    bytes_ = true;
  }
  void Swap(Value& o) {
    std::swap(null_, o.null_);
    std::swap(bytes_, o.bytes_);
    text_.swap(o.text_);
  }

  bool operator==(const Value& o) const {
    if (null_ != o.null_) return false;
    if (bytes_ == o.bytes_) return text_ == o.text_;
    return text() == o.text();
  }

 private:
  void ToHex() const;

  static constexpr size_t kKeptCapacity = size_t{4} << 20;
  bool null_ = true;
  mutable bool bytes_ = false;
  mutable std::string text_;
};

// ADO data type codes the drivers report (Type of a field).
namespace type_code {
inline constexpr int kEmpty = 0;
inline constexpr int kSmallInt = 2;
inline constexpr int kInteger = 3;
inline constexpr int kSingle = 4;
inline constexpr int kDouble = 5;
inline constexpr int kCurrency = 6;
inline constexpr int kBoolean = 11;
inline constexpr int kDecimal = 14;
inline constexpr int kBigInt = 20;
inline constexpr int kGuid = 72;
inline constexpr int kBinary = 128;
inline constexpr int kWChar = 130;
inline constexpr int kNumeric = 131;
inline constexpr int kDbDate = 133;
inline constexpr int kDbTime = 134;
inline constexpr int kDbTimeStamp = 135;
inline constexpr int kVarChar = 200;
inline constexpr int kLongVarChar = 201;
inline constexpr int kVarWChar = 202;
inline constexpr int kLongVarWChar = 203;
inline constexpr int kLongVarBinary = 205;
}  // namespace type_code

}  // namespace corvane
