// Whether a secondary index finds the records of its table, checked with
// pxlib (an implementation independent of ours).
#pragma once

#include <filesystem>
#include <string>

#include "paradox/format.h"
#include "paradox/secondary_index.h"

namespace corvane::paradox::testing {

// "" when pxlib reads one .x record per table record (`info` as our reader
// gave it), each names a table record whose indexed fields hold the same
// bytes (by its key and block for a keyed table, else by its number, block
// and slot), the records go in the index's order, and pxlib takes the .y as
// the primary index of the .x (copies with the file types it insists on are
// made in `scratch`); else what is wrong.
std::string IndexRecordsProblem(const TableInfo& info, const SecondaryIndex& x,
                                const std::filesystem::path& scratch);

}  // namespace corvane::paradox::testing
