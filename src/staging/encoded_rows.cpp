#include "staging/encoded_rows.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "paradox/code_page.h"
#include "paradox/field_decode.h"
#include "paradox/field_encode.h"

namespace corvane::staging {
namespace {

using paradox::FieldInfo;
using paradox::FieldType;

constexpr size_t kChunk = size_t{256} << 10;
constexpr size_t kMaxText = 0xFFFF;
// The staging database shares the disk: the rows kept never take more than
// a third of what is free, and give way before it runs short.
constexpr uint64_t kSpareBytes = uint64_t{64} << 20;

bool EncodedAhead(FieldType type) {
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kNumber:
    case FieldType::kMoney:
    case FieldType::kBcd:
    case FieldType::kDate:
    case FieldType::kTime:
    case FieldType::kTimestamp:
    case FieldType::kLogical:
      return true;
    default:
      return false;
  }
}

// Whether a value kept in field `from` becomes field `to` exactly when
// decoded and encoded again, as its text would have been encoded: whole
// numbers and decimals keep their value in their fixed text form, dates
// become midnight. A value `to` cannot hold fails its encoding, and the
// export then reads the staging table.
bool Same(const FieldInfo& a, const FieldInfo& b) {
  return a.type == b.type && (a.type == FieldType::kAlpha || (a.size == b.size && a.scale == b.scale));
}

bool Becomes(const FieldInfo& from, const FieldInfo& to) {
  if (Same(from, to)) return true;
  if (from.type == to.type) return from.type == FieldType::kBcd;
  switch (from.type) {
    case FieldType::kShort:
      return to.type == FieldType::kLong || to.type == FieldType::kNumber ||
             to.type == FieldType::kBcd;
    case FieldType::kLong:
    case FieldType::kBcd:
      return to.type == FieldType::kNumber || to.type == FieldType::kBcd;
    case FieldType::kDate:
      return to.type == FieldType::kTimestamp;
    default:
      return false;
  }
}

// A file in `folder` without a name, so that it goes with the process.
int NamelessFile(const std::string& folder) {
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
#endif
  std::string name = folder + "/.corvane-rows-XXXXXX";
  const int made = ::mkstemp(name.data());
  if (made >= 0) ::unlink(name.c_str());
  return made;
}

}  // namespace

EncodedRows::~EncodedRows() { Drop(); }

bool EncodedRows::Start(std::vector<FieldInfo> fields) {
  Drop();
  for (const FieldInfo& f : fields) {
    if (!EncodedAhead(f.type)) return false;
  }
  fields_ = std::move(fields);
  layouts_ = {{0, fields_}};
  active_ = true;
  return true;
}

bool EncodedRows::Add(std::span<const std::string_view> row, size_t& outgrown) {
  if (!active_) return true;
  if (row.size() != fields_.size()) {
    Drop();
    return true;
  }
  const size_t row_start = pending_.size();
  for (size_t i = 0; i < row.size(); ++i) {
    const FieldInfo& f = fields_[i];
    const std::string_view text = row[i];
    if (f.type == FieldType::kAlpha) {
      if (text.size() > kMaxText) {
        Drop();
        return true;
      }
      pending_.push_back(static_cast<char>(text.size() & 0xFF));
      pending_.push_back(static_cast<char>(text.size() >> 8));
      pending_.append(text);
      continue;
    }
    const size_t at = pending_.size();
    pending_.resize(at + static_cast<size_t>(f.size), '\0');
    auto* out = reinterpret_cast<unsigned char*>(pending_.data() + at);
    // The code page only matters to Alpha fields.
    if (!paradox::EncodeScalar(f, paradox::CellView(false, text), paradox::kDefaultCodePage, out)
             .ok()) {
      pending_.resize(row_start);
      outgrown = i;
      return false;
    }
  }
  ++rows_;
  if (pending_.size() >= kChunk && !Flush()) Drop();
  return true;
}

bool EncodedRows::Widen(size_t column, const FieldInfo& field) {
  if (!active_ || column >= fields_.size() || !EncodedAhead(field.type) ||
      Same(fields_[column], field) || !Becomes(fields_[column], field)) {
    Drop();
    return false;
  }
  fields_[column] = field;
  if (layouts_.back().first == rows_) {
    layouts_.back().fields = fields_;
  } else {
    layouts_.push_back({rows_, fields_});
  }
  return true;
}

bool EncodedRows::Flush() {
  if (fd_ < 0) {
    fd_ = NamelessFile(folder_);
    if (fd_ < 0) return false;
  }
  struct statvfs fs{};
  if (::fstatvfs(fd_, &fs) != 0) return false;
  const uint64_t free_bytes = uint64_t{fs.f_bavail} * fs.f_frsize;
  if (free_bytes < 3 * (in_file_ + pending_.size()) + kSpareBytes) return false;
  for (size_t done = 0; done < pending_.size();) {
    const ssize_t n = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                               static_cast<off_t>(in_file_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  in_file_ += pending_.size();
  pending_.clear();
  return true;
}

void EncodedRows::Drop() {
  active_ = false;
  rows_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  in_file_ = 0;
  std::string().swap(pending_);
  layouts_.clear();
}

bool EncodedRows::Serves(const std::vector<FieldInfo>& fields, uint64_t rows) const {
  if (!active_ || rows != rows_ || fields.size() != fields_.size()) return false;
  for (const Layout& layout : layouts_) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!Becomes(layout.fields[i], fields[i])) return false;
    }
  }
  return true;
}

// The row at the start of `bytes` into `row`, and `bytes` past it; false
// when `bytes` does not hold all of it.
bool EncodedRows::Decode(std::string_view& bytes, const std::vector<FieldInfo>& fields,
                         std::vector<paradox::CellView>& row) const {
  size_t at = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& f = fields[i];
    if (f.type == FieldType::kAlpha) {
      if (bytes.size() < at + 2) return false;
      const size_t n = static_cast<unsigned char>(bytes[at]) |
                       (size_t{static_cast<unsigned char>(bytes[at + 1])} << 8);
      if (bytes.size() < at + 2 + n) return false;
      row[i] = paradox::CellView(n == 0, bytes.substr(at + 2, n));
      at += 2 + n;
      continue;
    }
    const auto size = static_cast<size_t>(f.size);
    if (bytes.size() < at + size) return false;
    row[i] = paradox::CellView(false, std::string_view());
    row[i].encoded = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    at += size;
  }
  bytes.remove_prefix(at);
  return true;
}

Status EncodedRows::ForEach(
    const std::vector<FieldInfo>& fields,
    const std::function<Status(std::span<const paradox::CellView>)>& fn) const {
  if (!active_) return Status::Internal("no rows were kept encoded");
  if (fields.size() != fields_.size()) return Status::Internal("the rows kept have other fields");
  std::vector<paradox::CellView> row(fields_.size());
  // The values of a column kept in another field than `fields` says,
  // encoded again for it.
  std::vector<std::string> again(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) again[i].resize(static_cast<size_t>(fields[i].size));
  paradox::Cell value;
  size_t layout = 0;
  bool converting = false;
  for (const Layout& l : layouts_) {
    for (size_t i = 0; i < fields.size(); ++i) converting = converting || !Same(l.fields[i], fields[i]);
  }
  auto convert = [&]() -> Status {
    const std::vector<FieldInfo>& kept = layouts_[layout].fields;
    for (size_t i = 0; i < fields.size(); ++i) {
      const FieldInfo& from = kept[i];
      const FieldInfo& to = fields[i];
      if (Same(from, to)) continue;
      CORVANE_RETURN_IF_ERROR(paradox::DecodeScalarField(from, row[i].encoded,
                                                         paradox::kDefaultCodePage, value));
      auto* out = reinterpret_cast<unsigned char*>(again[i].data());
      std::fill(again[i].begin(), again[i].end(), '\0');
      CORVANE_RETURN_IF_ERROR(paradox::EncodeScalar(
          to, paradox::CellView(value.null, value.text), paradox::kDefaultCodePage, out));
      row[i].encoded = out;
    }
    return Status::Ok();
  };
  std::string buffer;
  uint64_t rows = 0;
  // Takes the whole rows of `buffer`, leaving a part of one for the next piece.
  auto take = [&]() -> Status {
    std::string_view rest(buffer);
    while (rows < rows_) {
      while (layout + 1 < layouts_.size() && layouts_[layout + 1].first <= rows) ++layout;
      if (!Decode(rest, layouts_[layout].fields, row)) break;
      ++rows;
      if (converting) {
        Status converted = convert();
        if (!converted.ok()) return Status::InvalidArgument(converted.message());
      }
      CORVANE_RETURN_IF_ERROR(fn(row));
    }
    buffer.erase(0, buffer.size() - rest.size());
    return Status::Ok();
  };
  for (uint64_t at = 0; at < in_file_;) {
    const size_t carried = buffer.size();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, in_file_ - at));
    buffer.resize(carried + n);
    const ssize_t got = ::pread(fd_, buffer.data() + carried, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) {
      buffer.resize(carried);
      continue;
    }
    if (got <= 0) {
      return Status::IoError(std::string("Cannot read the rows kept encoded: ") +
                             std::strerror(got < 0 ? errno : EIO));
    }
    buffer.resize(carried + static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
    CORVANE_RETURN_IF_ERROR(take());
  }
  buffer += pending_;
  CORVANE_RETURN_IF_ERROR(take());
  if (rows != rows_ || !buffer.empty()) return Status::Internal("the rows kept encoded do not add up");
  return Status::Ok();
}

}  // namespace corvane::staging
