// The table name a .val footer or a secondary index header stores (a file
// name, sometimes with a path), set to that of a renamed table.
#pragma once

#include <filesystem>
#include <string>
#include <vector>
#include <string_view>

#include "base/status.h"

namespace corvane::paradox {

// `bytes` of a validity file (`validity`) or of a .xNN/.yNN/.xgN/.ygN
// file with the stem of the name it stores replaced by `stem`, its path
// and extension kept; `stem` is in the table's code page already.
// NotSupported for a file that stores no name (a level 3 .val) or one
// whose layout is not recognised; InvalidArgument when the new name does
// not fit the name area.
Result<std::string> WithStoredTableName(std::string_view bytes, bool validity,
                                        const std::string& stem);

// After a rename: sets the name stored in each .val and index file of the
// table `db_path` to the table's stem, each file replaced whole (a scratch
// copy renamed over it). Files that store no name are left alone. Returns
// one line per file that could not be rewritten, naming it and why; such
// a file stays as it was.
std::vector<std::string> StoreTableNameInRuleFiles(const std::filesystem::path& db_path);

}  // namespace corvane::paradox
