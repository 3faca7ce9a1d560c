#include "archive/engine_extract.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/beneath.h"

namespace torvane::engine {

namespace {

// "a/b/c.txt" -> ("a/b", "c.txt"); "c.txt" -> ("", "c.txt").
std::pair<std::string, std::string> SplitRel(const std::string& rel) {
  size_t cut = rel.find_last_of('/');
  if (cut == std::string::npos) return {"", rel};
  return {rel.substr(0, cut), rel.substr(cut + 1)};
}

std::string JoinRel(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

// An unused name beside the entry for what it replaces, hidden like every
// temporary name of the component.
std::string BackupName() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string name = ".~LK";
  for (int i = 0; i < 10; ++i) name += kChars[rng() % (sizeof kChars - 1)];
  return name;
}

// Sets the modification time of the open file `fd` (name null) or of the entry
// `name` in the folder `fd`, never through a link; the access time stays.
// Times are a courtesy: a failure changes nothing else.
void SetModified(int fd, const char* name, int64_t mtime) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(mtime);
  times[1].tv_nsec = 0;
  if (name) ::utimensat(fd, name, times, AT_SYMLINK_NOFOLLOW);
  else ::futimens(fd, times);
}

[[noreturn]] void ThrowThroughLink(const std::string& display, const std::string& folder) {
  ThrowEngine(engine_error::UnsafeEntry, "Refused to extract " + display + ": its folder " + folder +
                                             " is a symlink on disk, and extraction never writes through one.");
}

}  // namespace

DiskSink::DiskSink(const std::string& nativeDest, int64_t budget, int64_t archiveSize)
    : budget_(budget), archiveSize_(archiveSize) {
  std::string dest = nativeDest;
  while (dest.size() > 1 && dest.back() == '/') dest.pop_back();
  // The folders of the destination path that are missing, outermost first.
  std::vector<std::string> missing;
  for (std::string at = dest; !at.empty() && at != "/" && at != ".";) {
    struct stat st {};
    if (::stat(at.c_str(), &st) == 0) break;
    if (errno != ENOENT) ThrowErrno(errno);
    missing.insert(missing.begin(), at);
    size_t cut = at.find_last_of('/');
    at = cut == std::string::npos ? "" : at.substr(0, cut == 0 ? 1 : cut);
  }
  try {
    for (const auto& dir : missing) {
      if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) ThrowErrno(errno);
      createdAbove_.push_back(dir);
    }
    root_ = UniqueFd(::open(dest.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (root_.get() < 0) ThrowErrno(errno);
  } catch (...) {
    RollBack();
    throw;
  }
}

DiskSink::~DiskSink() {
  if (!committed_) RollBack();
}

// ---- places ------------------------------------------------------------------------

// The folder `dirRel` below the destination, opened through real folders only
// and created where missing; the last one is kept open for the next entry.
int DiskSink::Parent(const std::string& dirRel, const std::string& display) {
  if (dirRel.empty()) return root_.get();
  if (cachedParent_.get() >= 0 && dirRel == cachedParentRel_) return cachedParent_.get();
  int fd = OpenNoFollow(root_.get(), dirRel, O_PATH | O_DIRECTORY);
  // Something missing or in the way: the folder walk makes it, or names the link.
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)) fd = MakeFolders(dirRel, display);
  if (fd < 0) ThrowErrno(errno);
  cachedParent_ = UniqueFd(fd);
  cachedParentRel_ = dirRel;
  return fd;
}

// Opens `dirRel` one folder at a time, making each missing one (a file in the
// way is replaced like any entry; a link in the way refuses the entry).
int DiskSink::MakeFolders(const std::string& dirRel, const std::string& display) {
  UniqueFd cur;
  std::string rel;
  for (const auto& part : SplitNative(dirRel)) {
    int at = cur.get() >= 0 ? cur.get() : root_.get();
    rel = JoinRel(rel, part);
    int fd = OpenNoFollow(at, part, O_PATH | O_DIRECTORY);
    if (fd < 0 && errno == ELOOP) ThrowThroughLink(display, rel);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
      if (!MakeRoom(at, rel, display, true)) {
        if (::mkdirat(at, part.c_str(), 0755) != 0) ThrowErrno(errno);
        steps_.push_back({StepKind::CreatedFolder, rel, {}});
      }
      fd = OpenNoFollow(at, part, O_PATH | O_DIRECTORY);
    }
    if (fd < 0) ThrowErrno(errno);
    cur = UniqueFd(fd);
  }
  return cur.Release();
}

// Clears the place of a new entry `rel` in its folder `dirFd`. Returns true
// when a folder is already there and a folder is wanted (it is kept). Any
// other entry in the way is moved aside to a backup name (put back by the
// roll-back, dropped by the commit); a folder in the way of a file or link
// fails the entry.
bool DiskSink::MakeRoom(int dirFd, const std::string& rel, const std::string& display, bool folderWanted) {
  std::string name = SplitRel(rel).second;
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return false;
    ThrowErrno(errno);
  }
  if (S_ISDIR(st.st_mode)) {
    if (folderWanted) return true;
    ThrowEngine(engine_error::WriteFailed, "Cannot extract " + display + ": a folder of that name is in the way.");
  }
  if (S_ISLNK(st.st_mode)) LinksChanging();
  for (int attempt = 0;; ++attempt) {
    std::string backup = BackupName();
    if (::renameat2(dirFd, name.c_str(), dirFd, backup.c_str(), RENAME_NOREPLACE) == 0) {
      steps_.push_back({StepKind::Backup, rel, backup});
      return false;
    }
    if (errno != EEXIST || attempt == 5) ThrowErrno(errno);
  }
}

// ---- entries -----------------------------------------------------------------------

void DiskSink::Folder(const std::string& rel, const EntryMeta& meta) {
  auto [dir, name] = SplitRel(rel);
  int parent = Parent(dir, rel);
  if (!MakeRoom(parent, rel, rel, true)) {
    // Owner access is kept so that the folder's own entries can be written.
    uint32_t perm = meta.mode & 0777;
    if (perm == 0) perm = 0755;
    if (::mkdirat(parent, name.c_str(), (perm | 0700) & 0775) != 0) ThrowErrno(errno);
    steps_.push_back({StepKind::CreatedFolder, rel, {}});
    // The owner access the archive did not give is taken away again at the end.
    struct stat st {};
    if ((perm & 0700) != 0700 && ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      folderModes_.emplace_back(rel, (st.st_mode & 07777) & ~(0700 & ~perm));
  }
  if (meta.mtime > 0) folderTimes_.emplace_back(rel, meta.mtime);
}

void DiskSink::BeginFile(const std::string& rel, const EntryMeta& meta, const std::string& display) {
  // An entry of unknown size still counts against the budget.
  entryDeclared_ = meta.uncompressedSize;
  entryWritten_ = 0;
  display_ = display;
  auto [dir, name] = SplitRel(rel);
  int parent = Parent(dir, display);
  MakeRoom(parent, rel, display, false);
  uint32_t perm = meta.mode & 0777;
  if (perm == 0) perm = 0644;
  int fd = ::openat(parent, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, perm);
  if (fd < 0) ThrowErrno(errno);
  steps_.push_back({StepKind::Created, rel, {}});
  file_ = UniqueFd(fd);
  fileMtime_ = meta.mtime;
}

void DiskSink::Write(const uint8_t* data, size_t n) {
  int64_t len = static_cast<int64_t>(n);
  if (entryDeclared_ >= 0 && entryWritten_ + len > entryDeclared_)
    ThrowEngine(engine_error::TooLarge, "Extraction stopped: " + display_ + " expands beyond its recorded size of " +
                                            std::to_string(entryDeclared_) + " bytes.");
  if (budget_ >= 0 && written_ + len > budget_)
    ThrowEngine(engine_error::TooLarge,
                "Extraction stopped: the archive (" + std::to_string(archiveSize_) +
                    " bytes) expands beyond the extraction limit of " + std::to_string(budget_) +
                    " bytes; it may be a decompression bomb.");
  WriteFileAll(file_.get(), data, n);
  entryWritten_ += len;
  written_ += len;
}

void DiskSink::EndFile() {
  if (fileMtime_ > 0) SetModified(file_.get(), nullptr, fileMtime_);
  int fd = file_.Release();
  if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void DiskSink::AbortFile() { file_.Reset(); }

void DiskSink::Symlink(const std::string& rel, const EntryMeta& meta, const std::string& display) {
  symlinks_.push_back({rel, meta.linkTarget, display, meta.mtime});
}

void DiskSink::Hardlink(const std::string& rel, const std::string& targetRel, const std::string& display) {
  hardlinks_.push_back({rel, targetRel, display, 0});
}

// A hard link joins a file this archive (or the page) put in the destination;
// the target is reached through real folders only and must be a regular file
// (a hard link to a link would copy the link, wherever it leads).
void DiskSink::MakeHardlink(const PendingLink& link) {
  auto [tdir, tname] = SplitRel(link.target);
  UniqueFd tparent(OpenNoFollow(root_.get(), tdir, O_PATH | O_DIRECTORY));
  if (tparent.get() < 0 && errno == ELOOP) ThrowThroughLink(link.display, tdir);
  struct stat st {};
  if (tparent.get() < 0 || ::fstatat(tparent.get(), tname.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode))
    ThrowEngine(engine_error::UnsafeEntry, "Refused to extract " + link.display + ": its link target " + link.target +
                                               " is not a file of the destination folder.");
  auto [dir, name] = SplitRel(link.rel);
  int parent = Parent(dir, link.display);
  MakeRoom(parent, link.rel, link.display, false);
  if (::linkat(tparent.get(), tname.c_str(), parent, name.c_str(), 0) != 0) ThrowErrno(errno);
  steps_.push_back({StepKind::Created, link.rel, {}});
}

void DiskSink::MakeSymlink(const PendingLink& link) {
  auto [dir, name] = SplitRel(link.rel);
  int parent = Parent(dir, link.display);
  MakeRoom(parent, link.rel, link.display, false);
  if (::symlinkat(link.target.c_str(), parent, name.c_str()) != 0) ThrowErrno(errno);
  steps_.push_back({StepKind::Created, link.rel, {}});
  if (link.mtime > 0) SetModified(parent, name.c_str(), link.mtime);
}

// ---- where links lead --------------------------------------------------------------

// Called before the first link below the destination is made or replaced:
// notes the links that lead outside already, so that only what this
// extraction changes is held against it.
void DiskSink::LinksChanging() {
  if (linksChanged_) return;
  outBefore_ = LinksLeadingOut();
  linksChanged_ = true;
}

// Every link below the destination (folders walked without following links)
// whose resolution leaves it; `found` also receives each one's place.
std::set<DiskSink::Identity> DiskSink::LinksLeadingOut(std::vector<std::pair<Identity, std::string>>* found) const {
  std::set<Identity> out;
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    std::string dirRel = std::move(pending.back());
    pending.pop_back();
    int fd = OpenNoFollow(root_.get(), dirRel, O_RDONLY | O_DIRECTORY);
    if (fd < 0) continue;
    DIR* d = ::fdopendir(fd);
    if (!d) {
      ::close(fd);
      continue;
    }
    std::vector<std::string> from = SplitNative(dirRel);
    while (struct dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        pending.push_back(JoinRel(dirRel, name));
      } else if (S_ISLNK(st.st_mode)) {
        if (ResolveBeneath(root_.get(), from, name) != Beneath::Outside) continue;
        Identity id{st.st_dev, st.st_ino};
        out.insert(id);
        if (found) found->emplace_back(id, JoinRel(dirRel, name));
      }
    }
    ::closedir(d);
  }
  return out;
}

// After the links are made: none may lead outside unless it did before.
void DiskSink::CheckLinks() {
  std::vector<std::pair<Identity, std::string>> found;
  LinksLeadingOut(&found);
  for (const auto& entry : found) {
    if (outBefore_.count(entry.first)) continue;
    const std::string& rel = entry.second;
    auto mine = std::find_if(symlinks_.begin(), symlinks_.end(), [&](const PendingLink& l) { return l.rel == rel; });
    if (mine != symlinks_.end())
      ThrowEngine(engine_error::UnsafeEntry, "Refused to extract " + mine->display + ": its link target " +
                                                 mine->target + " leaves the destination folder.");
    ThrowEngine(engine_error::UnsafeEntry, "Refused to extract: the link " + rel +
                                               " in the destination folder would then lead outside it.");
  }
}

// ---- the end -----------------------------------------------------------------------

void DiskSink::Finish() {
  for (const auto& link : hardlinks_) MakeHardlink(link);
  if (!symlinks_.empty()) LinksChanging();
  for (const auto& link : symlinks_) MakeSymlink(link);
  if (linksChanged_) CheckLinks();
  Commit();
}

// Drops what was replaced, then applies the folders' modes and times (inner
// folders first, after every write into them); none of it can fail the
// extraction now.
void DiskSink::Commit() {
  cachedParent_.Reset();
  for (const auto& step : steps_) {
    if (step.kind != StepKind::Backup) continue;
    UniqueFd dir(OpenNoFollow(root_.get(), SplitRel(step.rel).first, O_PATH | O_DIRECTORY));
    if (dir.get() >= 0) ::unlinkat(dir.get(), step.backup.c_str(), 0);
  }
  committed_ = true;
  steps_.clear();
  auto deeperFirst = [](const auto& a, const auto& b) {
    return std::count(a.first.begin(), a.first.end(), '/') > std::count(b.first.begin(), b.first.end(), '/');
  };
  std::stable_sort(folderModes_.begin(), folderModes_.end(), deeperFirst);
  std::stable_sort(folderTimes_.begin(), folderTimes_.end(), deeperFirst);
  for (const auto& [rel, mode] : folderModes_) {
    auto [dir, name] = SplitRel(rel);
    UniqueFd parent(OpenNoFollow(root_.get(), dir, O_PATH | O_DIRECTORY));
    if (parent.get() >= 0) ::fchmodat(parent.get(), name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
  }
  for (const auto& [rel, mtime] : folderTimes_) {
    auto [dir, name] = SplitRel(rel);
    UniqueFd parent(OpenNoFollow(root_.get(), dir, O_PATH | O_DIRECTORY));
    if (parent.get() >= 0) SetModified(parent.get(), name.c_str(), mtime);
  }
}

// Undoes every step, last first: what was created goes, what was replaced
// comes back; then the destination folders this sink created.
void DiskSink::RollBack() noexcept {
  file_.Reset();
  cachedParent_.Reset();
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    auto [dir, name] = SplitRel(it->rel);
    UniqueFd parent(OpenNoFollow(root_.get(), dir, O_PATH | O_DIRECTORY));
    if (parent.get() < 0) continue;
    switch (it->kind) {
      case StepKind::Created: ::unlinkat(parent.get(), name.c_str(), 0); break;
      case StepKind::CreatedFolder: ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR); break;
      case StepKind::Backup: ::renameat(parent.get(), it->backup.c_str(), parent.get(), name.c_str()); break;
    }
  }
  steps_.clear();
  root_.Reset();
  for (auto it = createdAbove_.rbegin(); it != createdAbove_.rend(); ++it) ::rmdir(it->c_str());
  createdAbove_.clear();
}

}  // namespace torvane::engine
