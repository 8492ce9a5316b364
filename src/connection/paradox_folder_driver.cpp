#include "connection/drivers.h"

namespace corvane {

Result<std::unique_ptr<Driver>> OpenParadoxFolderDriver(const ConnectionAttributes&,
                                                        const ConnectionOptions&) {
  return Status::NotSupported("driver not built yet");
}

}  // namespace corvane
