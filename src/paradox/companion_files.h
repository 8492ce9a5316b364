// The files that make up one Paradox table.
//
// A table is its .db file plus companions of the same name: blobs (.mb),
// primary index (.px), secondary indexes (.xNN/.yNN/.xgN/.ygN), validity
// checks (.val), view settings (.tv) and family list (.fam). Deleting,
// renaming or replacing a table must carry all of them, or a stale index or
// .val is left describing data that is gone.
//
// Names match case-insensitively, as on the systems Paradox comes from:
// ASCII letters and the Latin, Greek and Cyrillic letters of the code pages
// Paradox tables use fold to one case. Other files named <name>.* (forms,
// reports, lock files) are not part of the table and are never listed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::paradox {

// The table file and the companions of `table_name` that exist directly in
// `folder` (no sub-folders), the .db first, then the others sorted by name.
// A missing or unreadable folder gives an empty list.
std::vector<std::filesystem::path> TableFiles(const std::filesystem::path& folder,
                                              const std::string& table_name);

// The companions only (TableFiles without the .db files).
std::vector<std::filesystem::path> CompanionFiles(const std::filesystem::path& folder,
                                                  const std::string& table_name);

// The table file `<table_name>.db` in `folder`, matched case-insensitively.
// When several files differ only in case, the exact spelling wins, then the
// first in byte order.
std::optional<std::filesystem::path> FindTableFile(const std::filesystem::path& folder,
                                                   const std::string& table_name);

// What dropping `table_name` removes: TableFiles, except that when several
// table files differ only in case (possible here, not on the systems
// Paradox comes from) only the one FindTableFile picks goes and the shared
// companions stay with the others. Empty when there is no such table.
std::vector<std::filesystem::path> DroppableTableFiles(const std::filesystem::path& folder,
                                                       const std::string& table_name);

// True when `extension` (with its dot, any case) names a file of a table
// family: .db .mb .px .xNN .yNN .xgN .ygN .val .tv .fam (N a hex digit).
bool IsTableFamilyExtension(std::string_view extension);

// Case-insensitive equality of two UTF-8 names, with the folding described
// above. Invalid UTF-8 compares byte for byte.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace corvane::paradox
