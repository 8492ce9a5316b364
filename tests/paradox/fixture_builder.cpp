#include "paradox/fixture_builder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "paradox/crypt.h"

namespace corvane::paradox::testing {

namespace {

void Put16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  Put32(s, 0, v);
  return s;
}

int FieldBytes(const FixtureField& f) { return f.type == 0x17 ? 17 : f.size_byte; }

// Header variable part, in file order; returns the real header length.
size_t AppendVariablePart(const FixtureTable& t, bool extended, std::string& h) {
  const size_t n = t.fields.size();
  for (const FixtureField& f : t.fields) {
    h.push_back(static_cast<char>(f.type));
    h.push_back(static_cast<char>(f.size_byte));
  }
  h.append(4 + 4 * n, '\0');
  std::string name = "FIXTURE.DB";
  name.resize(t.version >= 0x0C ? 261 : 79, '\0');
  h += name;
  for (const FixtureField& f : t.fields) h += f.name + '\0';
  if (!extended) return h.size();
  Put16(h, 0x66, static_cast<uint16_t>(h.size() - 0x58));
  for (size_t i = 0; i < n; ++i) h += std::string{static_cast<char>(i + 1), '\0'};
  Put16(h, 0x6E, static_cast<uint16_t>(h.size() - 0x58));
  h += t.sort_id + '\0';
  return h.size();
}

std::string BuildHeader(const FixtureTable& t, int blocks) {
  const bool extended = t.version >= 5;
  std::string h(extended ? 0x78 : 0x58, '\0');
  const size_t real = AppendVariablePart(t, extended, h);
  const size_t size = t.version == 3 ? real : (real / 0x800 + 1) * 0x800;
  h.resize(size, '\0');
  Put16(h, 0x00, static_cast<uint16_t>(RecordSize(t)));
  Put16(h, 0x02, static_cast<uint16_t>(size));
  h[0x04] = static_cast<char>(t.file_type);
  h[0x05] = static_cast<char>(t.block_kib);
  Put32(h, 0x06, static_cast<uint32_t>(static_cast<int>(t.records.size()) + t.record_count_delta));
  Put16(h, 0x0A, static_cast<uint16_t>(blocks));
  Put16(h, 0x0C, static_cast<uint16_t>(blocks));
  Put16(h, 0x0E, static_cast<uint16_t>(blocks ? (t.chain.empty() ? 1 : t.chain[0]) : 0));
  Put16(h, 0x21, static_cast<uint16_t>(t.fields.size()));
  h[0x29] = static_cast<char>(t.sort_byte);
  h[0x39] = static_cast<char>(t.version);
  if (extended) {
    Put32(h, 0x25, 0xFF00FF00u);
    Put32(h, 0x5C, t.encryption_key);
    Put16(h, 0x58, static_cast<uint16_t>(0x100 + t.version));
    Put16(h, 0x5A, static_cast<uint16_t>(0x100 + t.version));
    Put16(h, 0x6A, t.code_page);
    Put16(h, 0x51, static_cast<uint16_t>(real));
  } else {
    Put32(h, 0x25, t.encryption_key);
  }
  return h;
}

}  // namespace

int RecordSize(const FixtureTable& t) {
  int size = 0;
  for (const FixtureField& f : t.fields) size += FieldBytes(f);
  return size;
}

std::string BuildDb(const FixtureTable& t) {
  const int rs = RecordSize(t);
  const int block = t.block_kib * 1024;
  const int per = t.per_block ? t.per_block : (block - 6) / rs;
  const int blocks = static_cast<int>((t.records.size() + per - 1) / per);
  std::vector<int> chain = t.chain;
  for (int i = static_cast<int>(chain.size()); i < blocks; ++i) chain.push_back(i + 1);
  int physical = 0;
  for (int k : chain) physical = std::max(physical, k);
  std::string db = BuildHeader(t, blocks);
  const size_t base = db.size();
  db.resize(base + size_t(physical) * block, '\0');
  for (int i = 0; i < blocks; ++i) {
    const size_t at = base + size_t(chain[i] - 1) * block;
    const int first = i * per;
    const int count = std::min<int>(per, static_cast<int>(t.records.size()) - first);
    Put16(db, at, static_cast<uint16_t>(i + 1 < blocks ? chain[i + 1] : 0));
    Put16(db, at + 2, static_cast<uint16_t>(i > 0 ? chain[i - 1] : 0));
    Put16(db, at + 4, static_cast<uint16_t>((count - 1) * rs));
    for (int r = 0; r < count; ++r) {
      const std::string& rec = t.records[first + r];
      if (static_cast<int>(rec.size()) != rs) throw std::logic_error("record of the wrong size");
      std::memcpy(&db[at + 6 + size_t(r) * rs], rec.data(), rs);
    }
    if (t.encryption_key) {
      EncryptDbBlock(reinterpret_cast<unsigned char*>(&db[at]), block, t.encryption_key, chain[i]);
    }
  }
  return db;
}

std::string FlipInt(int n, int64_t v) {
  std::string s(n, '\0');
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = n - 1; i >= 0; --i, u >>= 8) s[i] = static_cast<char>(u & 0xFF);
  s[0] = static_cast<char>(s[0] ^ 0x80);
  return s;
}

std::string FlipDouble(double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  u = (u >> 63) ? ~u : u | (uint64_t{1} << 63);
  std::string s(8, '\0');
  for (int i = 7; i >= 0; --i, u >>= 8) s[i] = static_cast<char>(u & 0xFF);
  return s;
}

std::string Zeros(int n) { return std::string(n, '\0'); }

std::string Alpha(int size, const std::string& bytes) {
  std::string s = bytes;
  s.resize(size, '\0');
  return s;
}

std::string Bcd(int scale, const std::string& value) {
  const bool negative = !value.empty() && value[0] == '-';
  std::string digits;
  for (char c : value) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  digits = std::string(32 - digits.size(), '0') + digits;
  std::string s(17, '\0');
  s[0] = static_cast<char>((negative ? 0x40 : 0xC0) + scale);
  for (int i = 0; i < 32; ++i) {
    int nib = digits[i] - '0';
    if (negative) nib ^= 0xF;
    s[1 + i / 2] = static_cast<char>(s[1 + i / 2] | (i % 2 == 0 ? nib << 4 : nib));
  }
  return s;
}

std::string BlobRef(int size, const std::string& leader, uint32_t pointer, uint32_t length,
                    uint16_t mod) {
  std::string s = leader.substr(0, size - 10);
  s.resize(size - 10, '\0');
  s += Le32(pointer) + Le32(length);
  s.push_back(static_cast<char>(mod & 0xFF));
  s.push_back(static_cast<char>(mod >> 8));
  return s;
}

MbBuilder::MbBuilder() : bytes_(4096, '\0') {
  Put16(bytes_, 1, 1);
  Put16(bytes_, 3, 1);
}

uint32_t MbBuilder::AddSingle(const std::string& data) {
  const size_t at = bytes_.size();
  const size_t units = (9 + data.size() + 4095) / 4096;
  bytes_.resize(at + units * 4096, '\0');
  bytes_[at] = 2;
  Put16(bytes_, at + 1, static_cast<uint16_t>(units));
  Put32(bytes_, at + 3, static_cast<uint32_t>(data.size()));
  Put16(bytes_, at + 7, 1);
  std::memcpy(&bytes_[at + 9], data.data(), data.size());
  return static_cast<uint32_t>(at) | 0xFF;
}

std::vector<uint32_t> MbBuilder::AddSubAllocated(const std::vector<std::string>& values) {
  const size_t at = bytes_.size();
  bytes_.resize(at + 4096, '\0');
  bytes_[at] = 3;
  Put16(bytes_, at + 1, 1);
  std::vector<uint32_t> pointers;
  size_t chunk = 0x15;
  int slot = 63;
  for (const std::string& v : values) {
    const size_t chunks = (v.size() + 15) / 16;
    const size_t s = at + 12 + 5 * slot;
    bytes_[s] = static_cast<char>(chunk);
    bytes_[s + 1] = static_cast<char>(chunks);
    Put16(bytes_, s + 2, 1);
    bytes_[s + 4] = static_cast<char>(v.size() - (chunks - 1) * 16);
    std::memcpy(&bytes_[at + chunk * 16], v.data(), v.size());
    pointers.push_back(static_cast<uint32_t>(at) | static_cast<uint32_t>(slot));
    chunk += chunks;
    --slot;
  }
  return pointers;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> SampleTableFiles() {
  std::vector<std::string> out;
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && (ext == ".db" || ext == ".DB")) out.push_back(e.path().string());
  }
  return out;
}

}  // namespace corvane::paradox::testing
