// A record set over rows held in memory: the staging database's table list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "connection/connection.h"

namespace corvane::staging {

// Text columns (type code 202) named `names`; every row has one value per name.
std::unique_ptr<RecordSet> RowsRecordSet(std::vector<std::string> names,
                                         std::vector<std::vector<Value>> rows);

}  // namespace corvane::staging
