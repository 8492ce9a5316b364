#include "connection/staging_export.h"

namespace corvane::staging {

Status ExportStagingTable(StagingDb&, const ExportStatement&) {
  return Status::NotSupported("export: in progress");
}

}  // namespace corvane::staging
