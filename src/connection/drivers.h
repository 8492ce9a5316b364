// Driver entry points; Connection::Open picks one by the connection string.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "connection/connection.h"

namespace corvane {

using ConnectionAttributes = std::map<std::string, std::string>;  // keys lower-cased

Result<std::unique_ptr<Driver>> OpenPostgresDriver(const ConnectionAttributes& attrs,
                                                   const ConnectionOptions& options);
Result<std::unique_ptr<Driver>> OpenParadoxFolderDriver(const ConnectionAttributes& attrs,
                                                        const ConnectionOptions& options);
Result<std::unique_ptr<Driver>> OpenStagingDriver(const ConnectionAttributes& attrs,
                                                  const ConnectionOptions& options);

}  // namespace corvane
