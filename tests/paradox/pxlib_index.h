// A keyed table read by pxlib (an implementation independent of ours) with
// its primary index attached.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <paradox.h>
}

namespace corvane::paradox::testing {

struct PxIndexed {
  std::string error;
  std::vector<pxpindex_t> entries;       // level 1 only; data pointers not kept
  std::vector<std::string> keys;         // key bytes of those entries
  std::vector<std::string> record_keys;  // the key bytes of every record read
  int records = 0;                       // as its header counts them
};

PxIndexed ReadWithIndex(const std::string& db, const std::string& px, int key_size);

// "" when pxlib reads every record through the index and each level-1
// entry names the block whose first record holds its key and counts that
// block's records; else what is wrong.
std::string PxlibIndexProblem(const std::string& db, const std::string& px, int key_size);

}  // namespace corvane::paradox::testing
