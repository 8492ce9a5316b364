#include "maintenance/file_operations.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "paradox/temp_file.h"
#include "ui/procedure.h"
#include "ui/step_names.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;

Status FromError(const std::error_code& ec, const std::string& what) {
  std::string message = what + ": " + ec.message();
  if (ec == std::errc::no_such_file_or_directory) return Status::NotFound(message);
  if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted) {
    return Status::PermissionDenied(message);
  }
  return Status::IoError(message);
}

std::string RenameWhat(const std::string& s, const std::string& d) {
  return "Cannot rename " + s + " to " + d;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// Across file systems: copy, and delete the source only once the copy is
// whole. A failed copy leaves the source untouched and removes its remains.
Status CopyThenDelete(const std::string& s, const std::string& d, ui::EventPump& pump) {
  std::error_code ec;
  fs::copy_file(s, d, fs::copy_options::none, ec);
  if (ec) {
    if (ec != std::errc::file_exists) {
      std::error_code ignored;
      fs::remove(d, ignored);
    }
    return FromError(ec, RenameWhat(s, d));
  }
  DeleteFileQuietly(s, pump);
  return Status::Ok();
}

}  // namespace

Status MoveFileNoReplace(const std::string& source, const std::string& destination,
                         ui::EventPump& pump) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(source, ec))) {
    return FromError(std::make_error_code(std::errc::no_such_file_or_directory), source);
  }
  if (source == destination) return Status::Ok();
  const int err = paradox::RenameNoReplace(source, destination);
  if (err == 0) return Status::Ok();
  ec = std::error_code(err, std::generic_category());
  if (ec == std::errc::file_exists && SameFile(source, destination)) {
    // Another spelling of the same file (a case change on a file system that
    // ignores case): a plain rename cannot lose it.
    fs::rename(source, destination, ec);
    return ec ? FromError(ec, RenameWhat(source, destination)) : Status::Ok();
  }
  if (ec == std::errc::cross_device_link) return CopyThenDelete(source, destination, pump);
  if (ec == std::errc::file_exists) {
    return Status::InvalidArgument(RenameWhat(source, destination) + ": the destination exists");
  }
  return FromError(ec, RenameWhat(source, destination));
}

bool RenameFile(const std::string& source, const std::string& destination, ui::Dialogs& dialogs,
                ui::EventPump& pump) {
  ui::Procedure proc(dialogs, "Main.RenameFile");
  proc.Step(steps::rename_file::kMove, [&] { return MoveFileNoReplace(source, destination, pump); });
  return proc.failures() == 0;
}

void DeleteFileQuietly(const std::string& path, ui::EventPump& pump) {
  pump.Pump();
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(path, ec))) return;
  if (fs::remove(path, ec)) return;
  (void)ForceDeleteFile(path);
}

Status ForceDeleteFile(const std::string& path) {
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  if (fs::is_directory(st)) return Status::InvalidArgument("Cannot delete " + path + ": a folder");
  if (fs::remove(path, ec)) return Status::Ok();
  if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
  if (fs::is_regular_file(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none) {
    // Where a read-only bit blocks deletion, clear it; put it back if the
    // file still cannot go.
    std::error_code perm_ec;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, perm_ec);
    if (!perm_ec) {
      std::error_code again;
      if (fs::remove(path, again)) return Status::Ok();
      fs::permissions(path, st.permissions(), fs::perm_options::replace, perm_ec);
    }
  }
  return FromError(ec, "Cannot delete " + path);
}

}  // namespace corvane::maintenance
