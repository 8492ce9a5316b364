// Outline: find each named field; try every part of a field rule alone
// (required, minimum, maximum, default), so that one part without a form
// costs only itself; encode the .val from the parts that fit; then each
// index: a plain one-field index becomes the field's .xNN, anything else a
// named .xgN, as Paradox keeps them.
#include "paradox/rule_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "base/ascii.h"
#include "paradox/companion_files.h"
#include "paradox/validity_writer.h"

namespace corvane::paradox {
namespace {

constexpr int kMaxComposite = 16;  // .xg0 to .xgf

int FieldNamed(const TableInfo& t, const std::string& name) {
  for (size_t i = 0; i < t.fields.size(); ++i) {
    if (t.fields[i].name == name) return static_cast<int>(i);
  }
  for (size_t i = 0; i < t.fields.size(); ++i) {
    if (SameNameIgnoringCase(t.fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

std::string Hex(int v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

// The parts of `named` that the field can hold.
FieldRule FittingRule(const TableInfo& t, int field, const NamedFieldRule& named,
                      std::vector<std::string>& left_off) {
  using Part = std::optional<std::string> FieldRule::*;
  FieldRule wanted;
  wanted.field = field;
  wanted.minimum = named.minimum;
  wanted.maximum = named.maximum;
  wanted.default_value = named.default_value;
  FieldRule kept;
  kept.field = field;
  kept.required = named.required;
  if (!named.picture.empty()) {
    FieldRule alone;
    alone.field = field;
    alone.picture = named.picture;
    Result<std::string> fits = EncodeValidity(t, {alone});
    if (fits.ok()) {
      kept.picture = named.picture;
    } else {
      left_off.push_back(fits.status().message());
    }
  }
  for (Part part : {&FieldRule::minimum, &FieldRule::maximum, &FieldRule::default_value}) {
    if (!(wanted.*part)) continue;
    FieldRule alone;
    alone.field = field;
    alone.*part = wanted.*part;
    Result<std::string> fits = EncodeValidity(t, {alone});
    if (fits.ok()) {
      kept.*part = wanted.*part;
    } else {
      left_off.push_back(fits.status().message());
    }
  }
  return kept;
}

Status AddValidity(const TableInfo& t, const RulesToWrite& rules, const RuleFileSink& put,
                   std::vector<std::string>& left_off) {
  std::vector<FieldRule> kept;
  for (const NamedFieldRule& named : rules.fields) {
    const int f = FieldNamed(t, named.field);
    if (f < 0) {
      left_off.push_back("the checks of field \"" + named.field + "\": the table has no such field");
      continue;
    }
    kept.push_back(FittingRule(t, f, named, left_off));
  }
  Result<std::string> bytes = EncodeValidity(t, kept);
  if (!bytes.ok()) {  // each part fitted alone; nothing is expected here
    left_off.push_back(bytes.status().message());
    return Status::Ok();
  }
  return bytes->empty() ? Status::Ok() : put(".VAL", *bytes);
}

std::string Describe(const NamedIndex& x) {
  std::string fields;
  for (const std::string& f : x.fields) fields += (fields.empty() ? "" : ", ") + f;
  return "index " + (x.name.empty() ? "" : "\"" + x.name + "\" ") + "on (" + fields + ")";
}

}  // namespace

Result<std::vector<std::string>> EncodeRuleFiles(const TableInfo& table, const RulesToWrite& rules,
                                                 const RecordWalk& records,
                                                 const RuleFileSink& put) {
  std::vector<std::string> left_off;
  CORVANE_RETURN_IF_ERROR(AddValidity(table, rules, put, left_off));
  const std::string stem = std::filesystem::path(table.path).stem().string();
  // The name a .x stores is its file's, in the letter case of the table's.
  const std::string db_ext = std::filesystem::path(table.path).extension().string();
  auto Cased = [&](std::string extension) {
    if (db_ext.size() > 1 && db_ext[1] == 'd') {
      extension = AsciiLowerCase(extension);
    }
    return extension;
  };
  std::vector<std::string> taken;
  int composites = 0;
  for (const NamedIndex& named : rules.indexes) {
    IndexToWrite x{named.name, {}, false, false, named.unique, named.descending};
    std::string missing;
    for (const std::string& name : named.fields) {
      const int f = FieldNamed(table, name);
      if (f < 0) missing = name;
      x.fields.push_back(f);
      // Folding case means something to text only.
      if (f >= 0 && table.fields[static_cast<size_t>(f)].type == FieldType::kAlpha) {
        x.case_insensitive = x.case_insensitive || named.case_insensitive;
      }
    }
    if (!missing.empty()) {
      left_off.push_back(Describe(named) + ": the table has no field \"" + missing + "\"");
      continue;
    }
    std::string extension = ".X" + Hex(x.fields[0] + 1, 2);
    x.composite = x.fields.size() > 1 || x.case_insensitive || x.unique || x.descending ||
                  x.fields[0] >= 0xFF ||
                  std::find(taken.begin(), taken.end(), extension) != taken.end();
    if (x.composite) {
      if (composites == kMaxComposite) {
        left_off.push_back(Describe(named) + ": a table holds at most " +
                               std::to_string(kMaxComposite) + " composite indexes");
        continue;
      }
      extension = ".XG" + Hex(composites, 1);
    }
    Result<IndexFiles> files = EncodeSecondaryIndex(table, x, stem + Cased(extension), records);
    if (!files.ok()) {
      if (files.status().code() != Status::Code::kInvalidArgument) return files.status();
      left_off.push_back(Describe(named) + ": " + files.status().message());
      continue;
    }
    composites += x.composite ? 1 : 0;
    taken.push_back(extension);
    CORVANE_RETURN_IF_ERROR(put(extension, files->x));
    extension[1] = 'Y';
    CORVANE_RETURN_IF_ERROR(put(extension, files->y));
  }
  return left_off;
}

}  // namespace corvane::paradox
