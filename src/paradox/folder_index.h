// The family files directly in a folder, grouped by the case-folded name of
// their table, so that one table's files are found without listing the
// folder again. A folder on a local file system is listed once and then
// kept up to date from the kernel's change notices (inotify), which report
// every change, ours and other programs' alike; a network folder, whose
// notices would miss other machines' changes, is listed afresh each time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::paradox {

// Groups names: equal keys for names equal ignoring case as
// SameNameIgnoringCase has it; a name that is not UTF-8 keys by its bytes.
using StemKeyFn = std::function<std::u32string(std::string_view)>;

// The names (no folder) of the regular files directly in `folder` whose
// extension is a table family's and whose stem has the key `key`, sorted by
// byte value. A missing or unreadable folder has none.
std::vector<std::string> FamilyNamesByKey(const std::filesystem::path& folder,
                                          const std::u32string& key, const StemKeyFn& key_of);

// How many times a folder has been listed by the above, for tests that
// check lookups do not list it again.
uint64_t FamilyFolderListings();

}  // namespace corvane::paradox
