#include "paradox/rules_builder.h"

namespace corvane::paradox::testing {
namespace {

std::string Le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Padded(const std::string& s, size_t n) { return s + std::string(n - s.size(), '\0'); }
void Put(std::string& at, size_t offset, const std::string& bytes) {
  at.replace(offset, bytes.size(), bytes);
}

// Pointers are only tested for zero: any other value means "present".
std::string Record(const ValRule& r) {
  auto present = [](const std::string& v) { return Le32(v.empty() ? 0 : 0x6B000010); };
  std::string out(1, static_cast<char>(r.field));
  out += static_cast<char>(r.picture.empty() ? 0 : r.picture.size() + 1);
  out += static_cast<char>(r.required ? 1 : 0);
  out += static_cast<char>(r.lookup.empty() ? 0 : 3);
  out += present(r.lookup) + Le32(0) + present(r.min) + present(r.max) + present(r.def) +
         present(r.picture);
  if (!r.lookup.empty()) out += Padded(r.lookup, 0x50);
  out += r.min + r.max + r.def;
  if (!r.picture.empty()) out += r.picture + '\0';
  return out;
}

std::string Reference(const ValReference& r) {
  std::string out = Padded(r.name, 0xD4) + Padded(r.parent, 0x19A - 0xD4) +
                    Le32(r.cascade ? 1 : 0) + Le16(static_cast<uint16_t>(r.fields.size()));
  for (uint16_t f : r.fields) out += Le16(f);
  out = Padded(out, 0x1C0);
  for (uint16_t f : r.parent_fields) out += Le16(f);
  return Padded(out, 0x1E0);
}

}  // namespace

std::string BuildVal(uint8_t version, const std::vector<RuleField>& fields,
                     const std::vector<ValRule>& rules,
                     const std::vector<ValReference>& references) {
  std::string v(0x35, '\0');
  v[1] = static_cast<char>(version);
  v[2] = static_cast<char>(rules.size());
  for (const ValRule& r : rules) v += Record(r);
  if (version == 0x01) return v;
  if (!references.empty()) {
    Put(v, 0x0D, Le32(static_cast<uint32_t>(v.size())));
    v += Le16(static_cast<uint16_t>(references.size()));
    for (const ValReference& r : references) v += Reference(r);
    v += Le16(0);
  }
  Put(v, 0x09, Le32(static_cast<uint32_t>(v.size())));
  v += Le16(static_cast<uint16_t>(fields.size())) + Le32(0);
  for (size_t i = 0; i < fields.size(); ++i) v += Le16(static_cast<uint16_t>(i + 1));
  for (const RuleField& f : fields)
    v += std::string{static_cast<char>(f.type), static_cast<char>(f.size)};
  v += Padded("T.DB", 79);
  for (const RuleField& f : fields) v += f.name + '\0';
  return v;
}

std::string BuildIndexHeader(const IndexSpec& s) {
  const auto n = static_cast<uint16_t>(s.fields.size());
  std::string h(0x78, '\0');
  Put(h, 0x00, Le16(0));
  Put(h, 0x02, Le16(2048));
  h[0x04] = static_cast<char>(s.file_type);
  h[0x05] = 2;
  Put(h, 0x06, Le32(s.entries));
  Put(h, 0x21, Le16(n));
  Put(h, 0x23, Le16(static_cast<uint16_t>(s.key_count)));
  h[0x39] = static_cast<char>(s.version);
  h[0x55] = static_cast<char>(s.options);
  for (const RuleField& f : s.fields)
    h += std::string{static_cast<char>(f.type), static_cast<char>(f.size)};
  h += std::string(4 + 4 * n, '\0');
  h += std::string(s.version == 0x0C ? 261 : 79, '\0');
  for (const RuleField& f : s.fields) h += f.name + '\0';
  Put(h, 0x66, Le16(static_cast<uint16_t>(h.size() - 0x58)));
  for (uint16_t number : s.numbers) h += Le16(number);
  Put(h, 0x6E, Le16(static_cast<uint16_t>(h.size() - 0x58)));
  h += std::string("ascii") + '\0' + s.name + '\0';
  return Padded(h, 2048);
}

}  // namespace corvane::paradox::testing
