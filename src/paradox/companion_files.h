// The files that make up one Paradox table.
//
// A table is its .db file plus companions of the same name: blobs (.mb),
// primary index (.px), secondary indexes (.xNN/.yNN/.xgN/.ygN), validity
// checks (.val), view settings (.tv), family list (.fam), and the forms,
// reports and image settings Paradox keeps per table (.f/.fN, .r/.rN, .set).
// Deleting, renaming or replacing a table must carry all of them, or a
// stale index or .val is left describing data that is gone, and orphaned
// forms are taken up by the next table of that name. Lock files (.lck)
// belong to the program that has the table open and are never listed.
//
// Names match case-insensitively, as on the systems Paradox comes from:
// ASCII letters and the Latin, Greek and Cyrillic letters of the code pages
// Paradox tables use fold to one case. Here two tables may differ only in
// case; FindTable then takes the one spelled exactly as asked.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace corvane::paradox {

// One table of a folder as the files that go with it.
struct TableFamily {
  std::filesystem::path table_file;               // the .db
  std::vector<std::filesystem::path> companions;  // sorted by name
  // Every file: the table file first.
  std::vector<std::filesystem::path> Files() const;
};

// The table `name` directly in `folder`: the table file whose base name is
// `name` exactly, else the only one that matches ignoring case. Its
// companions are the family files of that exact base name, and those of
// another spelling that only this table matches (abc.mb goes with ABC.DB
// when the folder has no table abc). NotFound when there is no such table;
// InvalidArgument, naming the files, when several match equally well.
Result<TableFamily> FindTable(const std::filesystem::path& folder, const std::string& name);

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
// first in byte order. `table_name` may also be a table file's own name
// ("a.db"), which then means that file alone when it exists.
std::optional<std::filesystem::path> FindTableFile(const std::filesystem::path& folder,
                                                   const std::string& table_name);

// What dropping `table_name` removes: FindTable's files; empty when it
// finds no table or more than one.
std::vector<std::filesystem::path> DroppableTableFiles(const std::filesystem::path& folder,
                                                       const std::string& table_name);

// True when `extension` (with its dot, any case) names a file of a table
// family: .db .mb .px .xNN .yNN .xgN .ygN .val .tv .fam (N a hex digit),
// .f .r and .fN .rN (N one or two decimal digits), .set.
bool IsTableFamilyExtension(std::string_view extension);

// Case-insensitive equality of two UTF-8 names, with the folding described
// above. Invalid UTF-8 compares byte for byte.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace corvane::paradox
