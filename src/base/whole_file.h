// Writing a small file whole or not at all: beside it under a name of its
// own, synced, then renamed over it. Two processes writing the same file at
// once each leave a whole file; a crash leaves the old one.
#pragma once

#include <string>
#include <sys/types.h>

#include "base/status.h"

namespace corvane {

// `mode` applies as given (0600 keeps a file private); -1 gives the
// permissions a new file gets under the umask. `what` names the file in
// messages ("settings file", "report").
Status WriteWholeFile(const std::string& path, const std::string& text, mode_t mode,
                      const std::string& what);

}  // namespace corvane
