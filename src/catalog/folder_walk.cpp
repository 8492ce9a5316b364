#include "catalog/folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/ascii.h"
#include "base/utf8.h"
#include "ui/procedure.h"
#include "ui/step_names.h"

namespace corvane::catalog {

using utf8::NextCodePoint;
using utf8::Utf16Length;

namespace {

constexpr size_t kMaxPathUnits = 260;  // MAX_PATH of the original platform

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// "*" any run, "?" one character; ASCII letters in any case.
bool Matches(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && AsciiLower(*pattern) == AsciiLower(*name))) {
      const bool any = *pattern == '?';
      ++pattern;
      ++name;
      while (any && IsContinuation(*name)) ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

bool IsSubFolderEntry(const std::string& folder, const dirent* e) {
  if (e->d_type == DT_DIR) return true;
  if (e->d_type != DT_UNKNOWN) return false;  // links (DT_LNK) are never entered
  struct stat st;
  return lstat((folder + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Names of the sub-folders of `folder` in directory order; 0 or an errno.
int ReadSubFolders(const std::string& folder, std::vector<std::string>& names) {
  DirPtr dir(opendir(folder.c_str()));
  if (!dir) return errno;
  errno = 0;
  while (const dirent* e = readdir(dir.get())) {
    if (IsSubFolderEntry(folder, e)) names.emplace_back(e->d_name);
    errno = 0;
  }
  return errno;
}

Status ErrnoStatus(int err, const std::string& path) {
  if (err == EACCES || err == EPERM) return Status::PermissionDenied("Permission denied: " + path);
  if (err == ENOENT || err == ENOTDIR) return Status::NotFound("Path not found: " + path);
  return Status::IoError(path + ": " + std::strerror(err));
}

// The attribute test. No bit here marks a folder to leave out (no hidden or
// system attributes), so it only fails when the folder cannot be examined.
Result<bool> NotExcluded(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return ErrnoStatus(errno, folder);
  return true;
}

bool AcceptedName(const std::string& name) {
  return Utf16Length(name) < kMaxPathUnits && !HasUnsafeCharacters(name) &&
         name.find('?') == std::string::npos && name != "." && name != "..";
}

// Errors 70 and 76 of the original: the folder goes, with its files.
void DropUnreadable(std::vector<std::string>& folders, const std::string& folder,
                    const Status& why) {
  if (why.code() != Status::Code::kPermissionDenied && why.code() != Status::Code::kNotFound) {
    return;  // any other failure is dropped without a message
  }
  auto it = std::find(folders.begin(), folders.end(), folder);
  if (it != folders.end()) folders.erase(it);
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  const std::string dir_path = WithSlash(folder);
  DirPtr dir(opendir(dir_path.c_str()));
  if (!dir) return names;
  while (const dirent* e = readdir(dir.get())) {
    if (!Matches(pattern.c_str(), e->d_name)) continue;
    // The entry's own type spares a look at each of thousands of files;
    // a link or an unknown type is looked up.
    if (e->d_type == DT_REG || (e->d_type != DT_DIR && IsExistingFile(dir_path + e->d_name))) {
      names.emplace_back(e->d_name);
    }
  }
  return names;
}

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasUnsafeCharacters(const std::string& name) {
  for (size_t i = 0; i < name.size();) {
    const long c = NextCodePoint(name, i);
    if (c < 32 || (c >= 127 && c <= 159) || c == '?') return true;
  }
  return false;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Outline (numbers are the procedure's lines): for each folder of the
// collection (102) that is a folder under 260 units (104), pump (106), test
// its attributes (108), then read its sub-folders (110), pumping for each
// (112) and keeping the acceptable ones (114). From the first reading on,
// failures are silent: an unreadable or vanished folder leaves the
// collection (116). Recurse into what was found (118); then append each
// found folder that still is one (120, 122).
void GetSubDirectories2016(std::vector<std::string>& folders, bool recurse, ui::EventPump& pump,
                           ui::Dialogs& dialogs) {
  ui::Procedure proc(dialogs, "AddFolder.GetSubDirectories2016", ui::kWalkTagPrefix);
  std::vector<std::string> found;
  bool silent = false;
  const std::vector<std::string> entries = folders;  // removals must not skip entries
  for (const std::string& current : entries) {
    if (!IsFolder(current) || Utf16Length(current) >= kMaxPathUnits) continue;
    pump.Pump();
    if (silent) {
      Result<bool> ok = NotExcluded(current);
      if (!ok.ok()) {
        DropUnreadable(folders, current, ok.status());
        continue;
      }
    } else if (!proc.Test(steps::folder_walk::kTestFolder, [&] { return NotExcluded(current); })) {
      continue;
    }
    silent = true;
    std::vector<std::string> names;
    if (const int err = ReadSubFolders(current, names); err != 0) {
      DropUnreadable(folders, current, ErrnoStatus(err, current));
      continue;
    }
    for (const std::string& name : names) {
      pump.Pump();
      if (AcceptedName(name)) found.push_back(current + name + "/");
    }
  }
  if (recurse && !found.empty()) GetSubDirectories2016(found, true, pump, dialogs);
  for (const std::string& f : found) {
    pump.Pump();
    if (IsFolder(f) && proc.Test(steps::folder_walk::kTestFound, [&] { return NotExcluded(f); })) folders.push_back(f);
  }
}

}  // namespace corvane::catalog
