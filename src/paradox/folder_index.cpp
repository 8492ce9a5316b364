#include "paradox/folder_index.h"

#include <dirent.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "paradox/companion_files.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

std::atomic<uint64_t> listings{0};

constexpr size_t kKeptFolders = 16;
// Notices waiting for a folder nobody looks up; past this it is read again.
constexpr size_t kMostPending = 100000;
constexpr uint32_t kWatched =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// File systems whose notices cover every change: the kernel that sends
// them is the one every writer goes through.
bool NoticesSeeEverything(const fs::path& folder) {
  struct statfs fs_info {};
  if (statfs(folder.c_str(), &fs_info) != 0) return false;
  switch (static_cast<unsigned long>(fs_info.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

bool IsFamilyName(const std::string& name) {
  return IsTableFamilyExtension(fs::path(name).extension().string());
}

// One folder's family files by key, names sorted within a key.
struct Listing {
  std::map<std::u32string, std::vector<std::string>> by_key;
  bool has_links = false;  // a link's target may change unseen: not kept

  void Put(const StemKeyFn& key_of, const std::string& name) {
    auto& names = by_key[key_of(fs::path(name).stem().string())];
    auto at = std::lower_bound(names.begin(), names.end(), name);
    if (at == names.end() || *at != name) names.insert(at, name);
  }
  void Drop(const StemKeyFn& key_of, const std::string& name) {
    auto it = by_key.find(key_of(fs::path(name).stem().string()));
    if (it == by_key.end()) return;
    std::erase(it->second, name);
    if (it->second.empty()) by_key.erase(it);
  }
  // Brings `name` in line with what the folder holds now: a regular file,
  // through links, is one of the family.
  void Recheck(const fs::path& folder, const StemKeyFn& key_of, const std::string& name) {
    if (!IsFamilyName(name)) return;
    const fs::path path = folder / name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) has_links = true;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return Put(key_of, name);
    Drop(key_of, name);
  }
};

// Reads the folder whole.
Listing ReadFolder(const fs::path& folder, const StemKeyFn& key_of) {
  listings.fetch_add(1, std::memory_order_relaxed);
  Listing out;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return out;
  while (const dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (!IsFamilyName(name)) continue;
    if (e->d_type == DT_REG) {
      out.Put(key_of, name);
    } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      out.Recheck(folder, key_of, name);
    }
  }
  return out;
}

// The folders kept, each with its watch and the notices not yet applied.
class KeptFolders {
 public:
  std::vector<std::string> Names(const fs::path& folder, const std::u32string& key,
                                 const StemKeyFn& key_of) {
    std::lock_guard<std::mutex> lock(mu_);
    if (owner_ != getpid()) Restart();
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    Drain();
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    auto it = kept_.find(id);
    if (it != kept_.end() && !it->second.reread) {
      Kept& k = it->second;
      for (const std::string& name : k.pending) k.listing.Recheck(folder, key_of, name);
      k.pending.clear();
      if (!k.listing.has_links) return Find(k.listing, key);
      Forget(it);
    } else if (it != kept_.end()) {
      Forget(it);
    }
    return Find(Keep(folder, id, key_of), key);
  }

 private:
  struct Kept {
    int wd = -1;
    Listing listing;
    std::vector<std::string> pending;  // names changed since the last look
    bool reread = false;               // the notices cannot say what changed
  };
  using Map = std::map<std::pair<dev_t, ino_t>, Kept>;

  static std::vector<std::string> Find(const Listing& l, const std::u32string& key) {
    auto it = l.by_key.find(key);
    return it == l.by_key.end() ? std::vector<std::string>{} : it->second;
  }

  // A forked child shares its parent's notices: it must neither take them
  // nor trust what the parent kept, so it starts afresh.
  void Restart() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    kept_.clear();
    owner_ = getpid();
  }
  bool Ready() {
    if (fd_ < 0) fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd_ >= 0;
  }

  // Reads the folder, keeping it when its notices can be trusted. The
  // watch is set before the reading, so no change falls between the two.
  const Listing& Keep(const fs::path& folder, std::pair<dev_t, ino_t> id,
                      const StemKeyFn& key_of) {
    thread_local Listing once;
    const int wd = NoticesSeeEverything(folder) && Ready()
                       ? inotify_add_watch(fd_, folder.c_str(), kWatched)
                       : -1;
    Listing l = ReadFolder(folder, key_of);
    struct stat st {};
    const bool same = stat(folder.c_str(), &st) == 0 && st.st_dev == id.first &&
                      st.st_ino == id.second;
    if (wd < 0 || l.has_links || !same) {
      if (wd >= 0) inotify_rm_watch(fd_, wd);
      once = std::move(l);
      return once;
    }
    while (kept_.size() >= kKeptFolders) Forget(kept_.begin());
    Kept& k = kept_[id];
    k.wd = wd;
    k.listing = std::move(l);
    return k.listing;
  }

  void Forget(Map::iterator it) {
    if (it->second.wd >= 0 && fd_ >= 0) inotify_rm_watch(fd_, it->second.wd);
    kept_.erase(it);
  }

  Kept* ByWatch(int wd) {
    for (auto& [id, k] : kept_) {
      if (k.wd == wd) return &k;
    }
    return nullptr;
  }

  // Files each notice to its folder; the names are looked at when the
  // folder is next asked for.
  void Drain() {
    if (fd_ < 0) return;
    alignas(inotify_event) char buf[64 * 1024];
    for (;;) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return;
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->mask & IN_Q_OVERFLOW) {
          for (auto& [id, k] : kept_) k.reread = true;
          continue;
        }
        Kept* k = ByWatch(e->wd);
        if (k == nullptr) continue;
        if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
          k->reread = true;
        } else if (e->len > 0) {
          k->pending.emplace_back(e->name);
          if (k->pending.size() > kMostPending) k->reread = true;
        }
      }
    }
  }

  std::mutex mu_;
  int fd_ = -1;
  pid_t owner_ = 0;
  Map kept_;
};

}  // namespace

std::vector<std::string> FamilyNamesByKey(const fs::path& folder, const std::u32string& key,
                                          const StemKeyFn& key_of) {
  static KeptFolders* kept = new KeptFolders;  // lives as long as the process
  return kept->Names(folder, key, key_of);
}

uint64_t FamilyFolderListings() { return listings.load(std::memory_order_relaxed); }

}  // namespace corvane::paradox
