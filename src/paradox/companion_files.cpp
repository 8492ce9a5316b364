#include "paradox/companion_files.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <system_error>

#include "base/ascii.h"
#include "paradox/folder_index.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

// Lower case of one code point for the scripts of Paradox code pages
// (Latin-1, Latin Extended-A, Greek, Cyrillic); others are their own.
char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    bool even_upper = (c < 0x138 || (c >= 0x14A && c <= 0x177)) && c != 0x131;
    if (odd_upper && (c & 1)) return c + 1;
    if (even_upper && !(c & 1)) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

// Decodes UTF-8 into folded code points; nullopt when it is not valid UTF-8.
std::optional<std::u32string> FoldUtf8(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size()) return std::nullopt;
    char32_t c = extra == 0 ? b : (b & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
      auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (t & 0x3F);
    }
    out.push_back(FoldCodePoint(c));
    i += extra + 1;
  }
  return out;
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsTableFile(const fs::path& p) { return AsciiLowerCase(p.extension().string()) == ".db"; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Forms and reports of Paradox for DOS: .f, .f1 ... .f14, likewise .r.
bool IsFormOrReport(const std::string& e) {
  if (e.size() < 2 || e.size() > 4 || (e[1] != 'f' && e[1] != 'r')) return false;
  return std::all_of(e.begin() + 2, e.end(), IsDigit);
}

// Names equal ignoring case share a key; a name that is not UTF-8 keys by
// its bytes, set above every code point so that the two never meet.
std::u32string StemKey(std::string_view stem) {
  if (auto folded = FoldUtf8(stem)) return *folded;
  std::u32string raw;
  for (unsigned char b : stem) raw.push_back(0x110000 + b);
  return raw;
}

// Family files in `folder` whose stem is `table_name` ignoring case, sorted.
std::vector<fs::path> FamilyMembers(const fs::path& folder, const std::string& table_name) {
  std::vector<fs::path> found;
  for (const std::string& name : FamilyNamesByKey(folder, StemKey(table_name), StemKey)) {
    fs::path p = folder / name;
    if (SameNameIgnoringCase(p.stem().string(), table_name)) found.push_back(std::move(p));
  }
  return found;
}

std::string FileList(const std::vector<fs::path>& files) {
  std::string out;
  for (const fs::path& f : files) out += (out.empty() ? "" : ", ") + f.filename().string();
  return out;
}

// The table files `name` means: those of exactly that base name, else those
// matching it ignoring case.
std::vector<fs::path> Candidates(const std::vector<fs::path>& tables, const std::string& name) {
  std::vector<fs::path> exact, folded;
  for (const fs::path& t : tables) {
    const std::string stem = t.stem().string();
    if (stem == name) exact.push_back(t);
    if (SameNameIgnoringCase(stem, name)) folded.push_back(t);
  }
  return exact.empty() ? folded : exact;
}

}  // namespace

std::vector<fs::path> TableFamily::Files() const {
  std::vector<fs::path> all = {table_file};
  all.insert(all.end(), companions.begin(), companions.end());
  return all;
}

Result<TableFamily> FindTable(const fs::path& folder, const std::string& name) {
  // Every file that could be the table or go with it shares its name's key.
  const std::vector<fs::path> files = FamilyMembers(folder, name);
  std::vector<fs::path> tables;
  std::copy_if(files.begin(), files.end(), std::back_inserter(tables), IsTableFile);
  const std::vector<fs::path> picked = Candidates(tables, name);
  if (picked.empty()) {
    return Status::NotFound("There is no table " + name + " in the Paradox folder " +
                            folder.string() + ".");
  }
  if (picked.size() > 1) {
    return Status::InvalidArgument(name + " matches more than one table in " + folder.string() +
                                   " (" + FileList(picked) + "), so none of them was touched.");
  }
  TableFamily family{picked.front(), {}};
  const std::string stem = family.table_file.stem().string();
  for (const fs::path& f : files) {
    if (IsTableFile(f) || !SameNameIgnoringCase(f.stem().string(), stem)) continue;
    // Another spelling goes with this table only when no other table of
    // the folder could claim it.
    const std::vector<fs::path> owners = Candidates(tables, f.stem().string());
    if (f.stem().string() == stem || (owners.size() == 1 && owners.front() == family.table_file)) {
      family.companions.push_back(f);
    }
  }
  return family;
}

bool IsTableFamilyExtension(std::string_view extension) {
  std::string e = AsciiLowerCase(extension);
  if (e == ".db" || e == ".mb" || e == ".px" || e == ".val" || e == ".tv" || e == ".fam" ||
      e == ".set" || IsFormOrReport(e)) {
    return true;
  }
  if (e.size() == 4 && (e[1] == 'x' || e[1] == 'y') && IsHex(e[2]) && IsHex(e[3])) {
    return true;
  }
  return e.size() == 4 && (e[1] == 'x' || e[1] == 'y') && e[2] == 'g' && IsHex(e[3]);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  auto fa = FoldUtf8(a);
  auto fb = FoldUtf8(b);
  if (!fa || !fb) return a == b;
  return *fa == *fb;
}

std::vector<fs::path> TableFiles(const fs::path& folder, const std::string& table_name) {
  std::vector<fs::path> all = FamilyMembers(folder, table_name);
  std::stable_partition(all.begin(), all.end(), IsTableFile);
  return all;
}

std::vector<fs::path> CompanionFiles(const fs::path& folder, const std::string& table_name) {
  std::vector<fs::path> all = FamilyMembers(folder, table_name);
  all.erase(std::remove_if(all.begin(), all.end(), IsTableFile), all.end());
  return all;
}

std::optional<fs::path> FindTableFile(const fs::path& folder, const std::string& table_name) {
  // A file name given whole picks one of several spellings (a.db, A.DB).
  if (IsTableFile(table_name) && fs::path(table_name).filename() == table_name) {
    std::error_code ec;
    if (fs::is_regular_file(folder / table_name, ec)) return folder / table_name;
  }
  std::optional<fs::path> best;
  for (const fs::path& p : FamilyMembers(folder, table_name)) {
    if (!IsTableFile(p)) continue;
    if (p.filename().string() == table_name + ".db") return p;
    if (!best) best = p;
  }
  return best;
}

std::vector<fs::path> DroppableTableFiles(const fs::path& folder, const std::string& table_name) {
  Result<TableFamily> table = FindTable(folder, table_name);
  return table.ok() ? table->Files() : std::vector<fs::path>{};
}

}  // namespace corvane::paradox
