#include "archive/engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <unordered_map>

#include "archive/apple_double.h"
#include "archive/engine_extract.h"
#include "automation/object.h"
#include "platform/paths.h"
#include "platform/settings.h"

namespace torvane::engine {

namespace {

constexpr size_t kCopyBuffer = 64 * 1024;

// The identity of a path for replacing entries: cleaned and folded.
std::string FoldedKey(const std::string& path) { return FoldCase(JoinPath(SplitArchivePath(path), '/')); }
// The exact identity of a path: cleaned, letter case kept.
std::string ExactKey(const std::string& path) { return JoinPath(SplitArchivePath(path), '/'); }

// Pulls entries of the source archive forward to the one wanted.
class SourceCursor {
 public:
  SourceCursor(const FormatModule& module, const SourceFile& source, std::string password)
      : module_(module), source_(source), password_(std::move(password)) {}

  // The entry at `index` (0-based, stored order), ready for Read.
  const EntryMeta& Seek(int64_t index) {
    if (!reader_ || index <= pos_) {
      reader_ = module_.OpenReader(source_, password_);
      pos_ = -1;
    }
    while (pos_ < index) {
      if (!reader_->Next(meta_))
        ThrowEngine(engine_error::Damaged, "The archive file changed since it was opened: " + source_.dosPath);
      ++pos_;
    }
    return meta_;
  }
  size_t Read(uint8_t* buf, size_t n) { return reader_->Read(buf, n); }

 private:
  const FormatModule& module_;
  const SourceFile& source_;
  std::string password_;
  std::unique_ptr<FormatReader> reader_;
  int64_t pos_ = -1;
  EntryMeta meta_;
};

// Reads a whole (small) file; an empty result when it cannot be read.
Bytes ReadSmallFile(const std::string& native, size_t limit) {
  Bytes out;
  UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return out;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) return out;
  out.resize(static_cast<size_t>(st.st_size));
  out.resize(ReadFileAt(fd.get(), out.data(), out.size(), 0));
  return out;
}

std::string NativeDir(const std::string& dosDir) {
  std::string n = ToNativePath(dosDir);
  while (n.size() > 1 && n.back() == '/') n.pop_back();
  return n;
}

std::string ParentOf(const std::string& native) {
  size_t cut = native.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return native.substr(0, cut);
}

// Moves the finished temporary file onto the target, across file systems too.
void MoveIntoPlace(const std::string& temp, const std::string& target) {
  if (::rename(temp.c_str(), target.c_str()) == 0) return;
  if (errno != EXDEV) ThrowErrno(errno);
  // Another file system: copy beside the target first, then rename there.
  std::string near = target + ".~LKXXXXXX";
  UniqueFd out(::mkstemp(near.data()));
  if (out.get() < 0) ThrowErrno(errno);
  try {
    UniqueFd in(::open(temp.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) ThrowErrno(errno);
    std::vector<uint8_t> buf(kCopyBuffer);
    for (;;) {
      ssize_t r = ReadSome(in.get(), buf.data(), buf.size());
      if (r < 0) ThrowErrno(errno);
      if (r == 0) break;
      WriteFileAll(out.get(), buf.data(), static_cast<size_t>(r));
    }
    struct stat st {};
    if (::fstat(in.get(), &st) == 0) ::fchmod(out.get(), st.st_mode & 07777);
    if (::fsync(out.get()) != 0) ThrowErrno(errno);
    if (::rename(near.c_str(), target.c_str()) != 0) ThrowErrno(errno);
  } catch (...) {
    ::unlink(near.c_str());
    throw;
  }
  ::unlink(temp.c_str());
}

// Opens a file added from disk for reading. Links are followed only where the
// page named the file itself; a file that is no longer a regular file (a pipe
// swapped in since) is refused rather than read.
UniqueFd OpenDiskFile(const ItemRecord& rec) {
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (rec.followLink ? 0 : O_NOFOLLOW);
  UniqueFd fd(::open(rec.diskPath.c_str(), flags));
  if (fd.get() < 0) ThrowErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno(errno);
  if (!S_ISREG(st.st_mode))
    ThrowEngine(engine_error::BadContents, ToDosPath(rec.diskPath) + " is no longer a regular file.");
  return fd;
}

// Resolves a symbolic link's target against its folder; false when it leaves the root.
bool LinkStaysInside(const std::vector<std::string>& folder, const std::string& target) {
  if (target.empty() || target[0] == '/' || target[0] == '\\') return false;
  std::vector<std::string> at = folder;
  std::string cur;
  for (size_t i = 0; i <= target.size(); ++i) {
    if (i == target.size() || target[i] == '/' || target[i] == '\\') {
      if (cur == "..") {
        if (at.empty()) return false;
        at.pop_back();
      } else if (!cur.empty() && cur != ".") {
        at.push_back(cur);
      }
      cur.clear();
    } else {
      cur += target[i];
    }
  }
  return true;
}

}  // namespace

// ---- options, items, enumerators -----------------------------------------------

void EngineOptions::SetOption(const std::string& name, const std::string& value) { text_[FoldCase(name)] = value; }

void EngineOptions::SetObjectOption(const std::string& name, std::shared_ptr<EncryptionMethod> method) {
  objects_[FoldCase(name)] = std::move(method);
}

std::string EngineOptions::Option(const std::string& name) const {
  auto it = text_.find(FoldCase(name));
  return it == text_.end() ? std::string() : it->second;
}

std::shared_ptr<EncryptionMethod> EngineOptions::ObjectOption(const std::string& name) const {
  auto it = objects_.find(FoldCase(name));
  return it == objects_.end() ? nullptr : it->second;
}

uint8_t EngineItem::ItemAttributes() const { return folder_ ? 0x10 : 0x20; }

int64_t EngineItem::ItemCompressedSize(int32_t) const {
  return record_ && record_->meta.compressedSize > 0 ? record_->meta.compressedSize : 0;
}

int64_t EngineItem::ItemUnCompressedSize() const {
  return record_ && record_->meta.uncompressedSize > 0 ? record_->meta.uncompressedSize : 0;
}

std::shared_ptr<EngineItemList> EngineItem::FolderItems() const { return std::make_shared<EngineItemList>(children_); }

std::shared_ptr<EngineItemEnum> EngineItemList::FindItems(const std::string& pattern) const {
  std::vector<std::shared_ptr<EngineItem>> found;
  for (const auto& item : items_)
    if (pattern == "*" || ArchiveWildcardMatch(pattern, item->name_)) found.push_back(item);
  return std::make_shared<EngineItemEnum>(std::move(found));
}

std::shared_ptr<EngineItem> EngineItemEnum::NextItem(int32_t count, int32_t& delivered) {
  delivered = 0;
  std::shared_ptr<EngineItem> last;
  while (delivered < count && pos_ < items_.size()) {
    last = items_[pos_++];
    ++delivered;
  }
  return last;
}

// ---- the engine archive ------------------------------------------------------

EngineArchive::EngineArchive() = default;
EngineArchive::~EngineArchive() = default;

const FormatModule& EngineArchive::Module() const {
  const FormatModule* m = FormatByType(type_);
  if (!m) ThrowEngine(engine_error::BadType, "Unknown archive type " + std::to_string(type_));
  return *m;
}

void EngineArchive::SetArchiveType(int32_t type) {
  const FormatModule* m = FormatByType(type);
  if (!m) ThrowEngine(engine_error::BadType, "Unknown archive type " + std::to_string(type));
  if (!m->Writable())
    ThrowEngine(engine_error::NotSupported, std::string("Writing ") + m->Name() + " archives is not supported.");
  type_ = type;
}

EngineInfo EngineArchive::GetInfo() const {
  const FormatModule& m = Module();
  EngineInfo info;
  info.folders = m.HasFolders() ? 1 : 0;
  info.type = m.Type();
  info.capabilities = m.Capabilities();
  return info;
}

std::vector<std::shared_ptr<EncryptionMethod>> EngineArchive::EncryptionMethods() const {
  std::vector<std::shared_ptr<EncryptionMethod>> out;
  for (int32_t kind : Module().EncryptionKinds()) {
    const char* name = kind == 1 ? "ZipCrypto" : kind == 2 ? "AES-128" : kind == 3 ? "AES-192" : "AES-256";
    out.push_back(std::make_shared<EncryptionMethod>(kind, name));
  }
  return out;
}

void EngineArchive::OpenFile(const std::string& dosPath) {
  Utf8Locale utf8;
  std::string native = ToNativePath(dosPath);
  // Non-blocking: a pipe given as the archive must not hang the page.
  UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) ThrowErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno(errno);
  if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
  if (!S_ISREG(st.st_mode))
    ThrowEngine(engine_error::UnknownFormat, "The file is not an archive of a known format: " + dosPath);
  std::vector<uint8_t> head(4096);
  head.resize(ReadFileAt(fd.get(), head.data(), head.size(), 0));
  FileProbe probe{head, st.st_size};
  const FormatModule* best = nullptr;
  int bestBid = 0;
  for (const FormatModule* m : FormatModules()) {
    int bid = m->Bid(probe);
    if (bid > bestBid) {
      bestBid = bid;
      best = m;
    }
  }
  if (!best) ThrowEngine(engine_error::UnknownFormat, "The file is not an archive of a known format: " + dosPath);
  SourceFile source{fd.get(), native, st.st_size, dosPath};
  // Read the listing before anything of this engine object changes.
  int32_t oldType = type_;
  SourceFile oldSource = source_;
  type_ = best->Type();
  source_ = source;
  try {
    LoadItems();
  } catch (...) {
    type_ = oldType;
    source_ = oldSource;
    throw;
  }
  sourceFd_ = std::move(fd);
}

void EngineArchive::LoadItems() {
  std::vector<std::shared_ptr<ItemRecord>> items;
  std::unordered_map<std::string, size_t> byPath;  // exact cleaned path -> position
  auto reader = Module().OpenReader(source_, "");
  EntryMeta meta;
  int64_t index = 0;
  while (reader->Next(meta)) {
    auto rec = std::make_shared<ItemRecord>();
    rec->meta = meta;
    rec->sourceIndex = index++;
    rec->normalizedKey = FoldedKey(meta.path);
    std::string exact = IsUnsafeArchivePath(meta.path) ? meta.path : ExactKey(meta.path);
    auto it = byPath.find(exact);
    if (it != byPath.end() && !exact.empty()) {
      // A later entry of the same path replaces the earlier one, as extraction would.
      items[it->second] = rec;
    } else {
      byPath[exact] = items.size();
      items.push_back(rec);
    }
    meta = EntryMeta();
  }
  items_ = std::move(items);
  treeDirty_ = true;
}

void EngineArchive::BuildTree() {
  auto root = std::make_shared<EngineItem>();
  root->folder_ = true;
  std::unordered_map<EngineItem*, std::unordered_map<std::string, EngineItem*>> index;
  for (const auto& rec : items_) {
    const std::string& raw = rec->meta.path;
    bool isFolder = rec->meta.kind == EntryKind::Folder;
    if (IsUnsafeArchivePath(raw)) {
      // Listed as it is stored, at the top: it has no place inside the tree.
      auto node = std::make_shared<EngineItem>();
      std::string shown = raw;
      std::replace(shown.begin(), shown.end(), '/', '\\');
      while (shown.size() > 1 && shown.back() == '\\') shown.pop_back();
      node->name_ = shown;
      node->path_ = shown;
      node->folder_ = isFolder;
      node->record_ = rec;
      root->children_.push_back(node);
      continue;
    }
    std::vector<std::string> parts = SplitArchivePath(raw);
    if (parts.empty()) continue;  // an entry for the archive's own root ("./")
    EngineItem* cur = root.get();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      auto& kids = index[cur];
      auto it = kids.find(parts[i]);
      if (it == kids.end()) {
        auto node = std::make_shared<EngineItem>();
        node->name_ = parts[i];
        node->path_ = JoinPath(std::vector<std::string>(parts.begin(), parts.begin() + static_cast<long>(i) + 1), '\\');
        node->folder_ = true;
        cur->children_.push_back(node);
        kids[parts[i]] = node.get();
        cur = node.get();
      } else {
        if (!it->second->folder_)
          ThrowEngine(engine_error::Damaged,
                      "The archive holds both a file and a folder named " + it->second->path_ + ".");
        cur = it->second;
      }
    }
    auto& kids = index[cur];
    auto it = kids.find(parts.back());
    if (it != kids.end()) {
      EngineItem* existing = it->second;
      if (existing->folder_ && !existing->record_ && isFolder) {
        existing->record_ = rec;  // an implied folder that the archive also lists
        continue;
      }
      ThrowEngine(engine_error::Damaged,
                  "The archive holds both a file and a folder named " + existing->path_ + ".");
    }
    auto node = std::make_shared<EngineItem>();
    node->name_ = parts.back();
    node->path_ = JoinPath(parts, '\\');
    node->folder_ = isFolder;
    node->record_ = rec;
    cur->children_.push_back(node);
    kids[parts.back()] = node.get();
  }
  root_ = root;
  treeDirty_ = false;
}

std::shared_ptr<EngineItem> EngineArchive::RootFolder() {
  if (treeDirty_ || !root_) BuildTree();
  return root_;
}

std::vector<std::shared_ptr<EngineItem>> EngineArchive::Select(const std::string& pattern, int32_t separator) {
  std::string p = pattern;
  for (auto& c : p)
    if (c == '/' || c == static_cast<char>(separator)) c = '\\';
  while (p.size() > 1 && p.back() == '\\') p.pop_back();
  std::vector<std::shared_ptr<EngineItem>> out;
  std::function<void(const std::shared_ptr<EngineItem>&, bool)> walk = [&](const std::shared_ptr<EngineItem>& node,
                                                                          bool taken) {
    for (const auto& child : node->children_) {
      bool take = taken || ArchiveWildcardMatch(p, child->path_);
      if (take) out.push_back(child);
      walk(child, take);
    }
  };
  walk(RootFolder(), false);
  return out;
}

std::string EngineArchive::Password(const std::shared_ptr<EngineOptions>& options) const {
  if (options) return options->Option("Password");
  return saveOptions_ ? saveOptions_->Option("Password") : std::string();
}

int64_t EngineArchive::ExtractBudget() const {
  const Settings& s = CurrentSettings();
  int64_t basis = source_.size;
  for (const auto& rec : items_)
    if (rec->sourceIndex < 0 && rec->meta.uncompressedSize > 0) basis += rec->meta.uncompressedSize;
  int64_t limit = -1;
  if (s.archiveExtractMaxBytes > 0) limit = s.archiveExtractMaxBytes;
  if (s.archiveExtractMaxRatio > 0) {
    int64_t byRatio = basis > INT64_MAX / s.archiveExtractMaxRatio ? INT64_MAX : basis * s.archiveExtractMaxRatio;
    limit = limit < 0 ? byRatio : std::min(limit, byRatio);
  }
  return limit;
}

// ---- extraction ----------------------------------------------------------------
//
// Extraction runs in named steps: every selected entry is planned (and the
// whole extraction refused before anything is written when one would leave
// the destination), the folders are made, then each file or link is written
// in the archive's order, and the sink commits (or rolls everything back).

namespace {

// One entry an extraction writes.
struct ExtractJob {
  std::string display;              // the entry's path as the page names it
  std::string rel;                  // its place below the destination ('/'-separated)
  std::string linkRel;              // hard links: the target's place
  const EntryMeta* meta = nullptr;  // null for a folder the archive only implies
};

// The folders and the files (by record) an extraction writes.
struct ExtractPlan {
  std::vector<ExtractJob> folders;
  std::unordered_map<const ItemRecord*, ExtractJob> files;
};

[[noreturn]] void RefuseEntry(const std::string& display, const std::string& why) {
  ThrowEngine(engine_error::UnsafeEntry, "Refused to extract " + display + ": " + why);
}

// The place of `parts` below the destination: the last part alone when flattening.
std::string PlaceOf(const std::vector<std::string>& parts, bool flatten) {
  return flatten ? parts.back() : JoinPath(parts, '/');
}

// Adds the entry `rec` (null: a folder the archive only implies) to the plan;
// refuses a path, link or device that must not be written.
void PlanEntry(const ItemRecord* rec, const std::string& display, bool flatten, ExtractPlan& plan) {
  const std::string& raw = rec ? rec->meta.path : display;
  if (rec && IsUnsafeArchivePath(raw)) RefuseEntry(display, "its path leaves the destination folder.");
  EntryKind kind = rec ? rec->meta.kind : EntryKind::Folder;
  if (kind == EntryKind::Special) RefuseEntry(display, "device and pipe entries are not extracted.");
  std::vector<std::string> parts = SplitArchivePath(raw);
  if (parts.empty()) return;
  ExtractJob job{display, PlaceOf(parts, flatten), {}, rec ? &rec->meta : nullptr};
  std::vector<std::string> folder =
      flatten ? std::vector<std::string>{} : std::vector<std::string>(parts.begin(), parts.end() - 1);
  if (kind == EntryKind::Symlink && !LinkStaysInside(folder, rec->meta.linkTarget))
    RefuseEntry(display, "its link target " + rec->meta.linkTarget + " leaves the destination folder.");
  if (kind == EntryKind::Hardlink) {
    const std::string& target = rec->meta.linkTarget;
    std::vector<std::string> tparts = SplitArchivePath(target);
    if (IsUnsafeArchivePath(target) || tparts.empty())
      RefuseEntry(display, "its link target " + target + " leaves the destination folder.");
    job.linkRel = PlaceOf(tparts, flatten);
  }
  if (kind != EntryKind::Folder) plan.files.emplace(rec, std::move(job));
  else if (!flatten) plan.folders.push_back(std::move(job));
}

void MakeFolders(DiskSink& sink, const std::vector<ExtractJob>& folders) {
  EntryMeta implied;  // a folder the archive only implies (a/b.txt without a/)
  implied.mode = 0755;
  for (const auto& job : folders) sink.Folder(job.rel, job.meta ? *job.meta : implied);
}

// Writes one file through `read` (bytes into the buffer, 0 at the end); a
// failure drops the partial file and is raised again.
void WriteStream(DiskSink& sink, const ExtractJob& job, const EntryMeta& declared,
                 const std::function<size_t(uint8_t*, size_t)>& read, std::vector<uint8_t>& buf) {
  sink.BeginFile(job.rel, declared, job.display);
  try {
    for (size_t n; (n = read(buf.data(), buf.size())) > 0;) sink.Write(buf.data(), n);
    sink.EndFile();
  } catch (...) {
    sink.AbortFile();
    throw;
  }
}

// The AppleDouble companion file of an entry with Macintosh forks.
void WriteCompanion(DiskSink& sink, const ExtractJob& job, const EntryMeta& meta, const MacForks& mac) {
  Bytes companion = EncodeAppleDouble(mac);
  EntryMeta cm = meta;
  cm.uncompressedSize = static_cast<int64_t>(companion.size());
  sink.BeginFile(AppleDoubleName(job.rel), cm, job.display);
  sink.Write(companion.data(), companion.size());
  sink.EndFile();
}

// Writes a file added from disk since the archive was read (its size is what
// the disk holds now).
void WriteDiskEntry(DiskSink& sink, const ExtractJob& job, const ItemRecord& rec, std::vector<uint8_t>& buf) {
  UniqueFd in = OpenDiskFile(rec);
  EntryMeta declared = rec.meta;
  declared.uncompressedSize = -1;
  auto read = [&](uint8_t* data, size_t size) {
    ssize_t r = ReadSome(in.get(), data, size);
    if (r < 0) ThrowErrno(errno);
    return static_cast<size_t>(r);
  };
  WriteStream(sink, job, declared, read, buf);
}

// Writes an entry of the source archive, then its AppleDouble companion.
void WriteSourceEntry(DiskSink& sink, const ExtractJob& job, const ItemRecord& rec, SourceCursor& cursor,
                      std::vector<uint8_t>& buf) {
  EntryMeta declared = rec.meta;
  if (!rec.meta.sizeExact) declared.uncompressedSize = -1;
  std::shared_ptr<MacForks> mac = cursor.Seek(rec.sourceIndex).mac;
  auto read = [&](uint8_t* data, size_t size) { return cursor.Read(data, size); };
  WriteStream(sink, job, declared, read, buf);
  if (mac && HasForkData(*mac)) WriteCompanion(sink, job, rec.meta, *mac);
}

}  // namespace

void EngineArchive::ExtractFiles(const std::string& pattern, const std::string& dosDest, int32_t flags,
                                 int32_t separator, const std::shared_ptr<EngineOptions>& options) {
  Utf8Locale utf8;
  bool flatten = (flags & kEngineFlatten) != 0;
  auto selected = Select(pattern, separator);
  if (selected.empty()) {
    if (HasWildcards(pattern)) return;
    ThrowEngine(engine_error::NoMatch, "No entry of the archive matches " + pattern);
  }
  // Plan every write and refuse the whole extraction before anything is written.
  ExtractPlan plan;
  for (const auto& node : selected) PlanEntry(node->record_.get(), node->path_, flatten, plan);

  DiskSink sink(NativeDir(dosDest), ExtractBudget(), source_.size);
  MakeFolders(sink, plan.folders);
  std::unique_ptr<SourceCursor> cursor;  // opened at the first entry of the source archive
  std::vector<uint8_t> buf(kCopyBuffer);
  for (const auto& rec : items_) {
    auto found = plan.files.find(rec.get());
    if (found == plan.files.end()) continue;
    const ExtractJob& job = found->second;
    if (rec->meta.kind == EntryKind::Symlink) {
      sink.Symlink(job.rel, rec->meta, job.display);
    } else if (rec->meta.kind == EntryKind::Hardlink) {
      sink.Hardlink(job.rel, job.linkRel, job.display);
    } else if (rec->sourceIndex >= 0) {
      if (!cursor) cursor = std::make_unique<SourceCursor>(Module(), source_, Password(options));
      WriteSourceEntry(sink, job, *rec, *cursor, buf);
    } else {
      WriteDiskEntry(sink, job, *rec, buf);
    }
  }
  sink.Finish();
}

// ---- deleting --------------------------------------------------------------------

void EngineArchive::DeleteFiles(const std::string& pattern, int32_t separator) {
  auto selected = Select(pattern, separator);
  if (selected.empty()) {
    if (HasWildcards(pattern)) return;
    ThrowEngine(engine_error::NoMatch, "No entry of the archive matches " + pattern);
  }
  std::set<const ItemRecord*> gone;
  for (const auto& node : selected)
    if (node->record_) gone.insert(node->record_.get());
  std::erase_if(items_, [&](const std::shared_ptr<ItemRecord>& r) { return gone.count(r.get()) > 0; });
  treeDirty_ = true;
}

// ---- adding ------------------------------------------------------------------------

namespace {

struct AddWalk {
  std::string mask;
  bool recurse = false;
  dev_t skipDev = 0;
  ino_t skipIno = 0;
  std::vector<std::shared_ptr<ItemRecord>> found;

  std::shared_ptr<ItemRecord> Record(const std::string& native, const std::string& rel, const struct stat& st,
                                     bool named = false) {
    auto rec = std::make_shared<ItemRecord>();
    rec->followLink = named;
    rec->meta.path = rel;
    rec->meta.kind = S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::File;
    rec->meta.uncompressedSize = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    rec->meta.mtime = st.st_mtime;
    rec->meta.mode = st.st_mode & 0777;
    rec->diskPath = native;
    return rec;
  }

  bool IsSource(const struct stat& st) const { return skipIno != 0 && st.st_dev == skipDev && st.st_ino == skipIno; }

  // Sorted names of a folder, without "." and "..".
  static std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) ThrowErrno(errno);
    while (struct dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  // A whole folder: its own entry, then everything below it (links not followed).
  void Tree(const std::string& native, const std::string& rel, const struct stat& st) {
    found.push_back(Record(native, rel, st));
    for (const auto& name : Names(native)) {
      std::string child = native + "/" + name;
      struct stat cs {};
      if (::lstat(child.c_str(), &cs) != 0 || IsSource(cs)) continue;
      if (S_ISDIR(cs.st_mode)) Tree(child, rel + "/" + name, cs);
      else if (S_ISREG(cs.st_mode)) found.push_back(Record(child, rel + "/" + name, cs));
    }
  }

  // The mask applied in one folder (and, recursing, in every folder below).
  void Masked(const std::string& dir, const std::string& prefix) {
    for (const auto& name : Names(dir)) {
      std::string child = dir + "/" + name;
      struct stat cs {};
      if (::lstat(child.c_str(), &cs) != 0 || IsSource(cs)) continue;
      bool match = ArchiveWildcardMatch(mask, name);
      if (S_ISREG(cs.st_mode) && match) {
        found.push_back(Record(child, prefix + name, cs));
      } else if (S_ISDIR(cs.st_mode) && recurse) {
        if (match) {
          Tree(child, prefix + name, cs);
        } else {
          size_t at = found.size();
          Masked(child, prefix + name + "/");
          if (found.size() > at)
            found.insert(found.begin() + static_cast<long>(at), Record(child, prefix + name, cs));
        }
      }
    }
  }
};

}  // namespace

void EngineArchive::AddFiles(const std::string& dosPath, int32_t flags, const std::shared_ptr<EngineOptions>& options) {
  const FormatModule& module = Module();
  bool recurse = (flags & kEngineNoRecurse) == 0;
  bool flatten = (flags & kEngineFlatten) != 0;
  if (!module.HasFolders() && (recurse || flatten))
    ThrowEngine(engine_error::NotSupported, std::string(module.Name()) + " archives cannot hold folders.");
  std::shared_ptr<EncryptionMethod> method = options ? options->ObjectOption("EncryptMethod") : nullptr;
  std::string password = options ? options->Option("Password") : std::string();
  // A password given for this archive but no method to apply it: refused, so
  // that nothing the page means to protect is stored in the clear. Options
  // left over from an archive of another format (a method this format does
  // not have) encrypt nothing here.
  if (!password.empty() && !method)
    ThrowEngine(engine_error::NotSupported, std::string(module.Name()) +
                                                " archives cannot be encrypted; the password was not applied and "
                                                "nothing was added.");
  if (method) {
    auto kinds = module.EncryptionKinds();
    if (std::find(kinds.begin(), kinds.end(), method->MethodKind()) == kinds.end()) password.clear();
  }

  std::string native = ToNativePath(dosPath);
  size_t cut = native.find_last_of('/');
  std::string dir = cut == std::string::npos ? "." : (cut == 0 ? "/" : native.substr(0, cut));
  std::string mask = cut == std::string::npos ? native : native.substr(cut + 1);
  AddWalk walk;
  walk.mask = mask.empty() ? "*" : mask;
  walk.recurse = recurse;
  struct stat src {};
  if (sourceFd_.get() >= 0 && ::fstat(sourceFd_.get(), &src) == 0) {
    walk.skipDev = src.st_dev;
    walk.skipIno = src.st_ino;
  }
  if (!HasWildcards(walk.mask)) {
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno);
    if (S_ISDIR(st.st_mode)) {
      if (!recurse)
        ThrowEngine(engine_error::NoMatch, dosPath + " is a folder; only files are added without Recurse.");
      walk.Tree(native, mask, st);
    } else if (S_ISREG(st.st_mode)) {
      walk.found.push_back(walk.Record(native, mask, st, true));
    } else {
      ThrowEngine(engine_error::NoMatch, dosPath + " is neither a file nor a folder.");
    }
  } else {
    walk.Masked(dir, "");
  }
  if (walk.found.empty()) ThrowEngine(engine_error::NoMatch, "No files match " + dosPath);

  // Flattening keeps only the files, each under its own name.
  std::vector<std::shared_ptr<ItemRecord>> adds;
  for (auto& rec : walk.found) {
    if (flatten) {
      if (rec->meta.kind == EntryKind::Folder) continue;
      rec->meta.path = BaseName(rec->meta.path);
    }
    rec->normalizedKey = FoldedKey(rec->meta.path);
    adds.push_back(rec);
  }

  // The result must fit the format before anything changes.
  std::vector<std::shared_ptr<ItemRecord>> next = items_;
  for (const auto& rec : adds) {
    auto same = std::find_if(next.begin(), next.end(),
                             [&](const auto& r) { return r->normalizedKey == rec->normalizedKey; });
    if (same != next.end()) *same = rec;  // replaces the entry in place
    else next.push_back(rec);
  }
  size_t files = 0, others = 0;
  for (const auto& r : next) (r->meta.kind == EntryKind::File ? files : others)++;
  module.CheckContents(files, others);
  items_ = std::move(next);
  treeDirty_ = true;
  if (!password.empty()) saveOptions_ = options;
}

// ---- saving ----------------------------------------------------------------------

void EngineArchive::SaveFile(const std::string& dosPath) {
  Utf8Locale utf8;
  const FormatModule& module = Module();
  if (!module.Writable())
    ThrowEngine(engine_error::NotSupported, std::string("Writing ") + module.Name() + " archives is not supported.");
  size_t files = 0, others = 0;
  for (const auto& r : items_) (r->meta.kind == EntryKind::File ? files : others)++;
  module.CheckContents(files, others);

  std::string target = ToNativePath(dosPath);
  std::string tempDir = tempDir_.empty() ? ParentOf(target) : NativeDir(tempDir_);
  std::string temp = tempDir + "/~LKXXXXXX";
  UniqueFd tfd(::mkstemp(temp.data()));
  if (tfd.get() < 0) ThrowErrno(errno);
  struct stat existing {};
  ::fchmod(tfd.get(), ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 0777) : 0644);
  tfd.Reset();

  try {
    WriteOptions wopts;
    std::shared_ptr<EncryptionMethod> method = saveOptions_ ? saveOptions_->ObjectOption("EncryptMethod") : nullptr;
    if (method) {
      wopts.password = saveOptions_->Option("Password");
      wopts.methodKind = method->MethodKind();
    }
    auto writer = module.OpenWriter(temp, wopts);
    std::unique_ptr<SourceCursor> cursor;
    std::vector<uint8_t> buf(kCopyBuffer);
    for (const auto& rec : items_) {
      EntryMeta meta = rec->meta;
      if (meta.kind != EntryKind::File) {
        writer->Begin(meta);
        writer->End();
        continue;
      }
      int64_t copied = 0;
      if (rec->sourceIndex >= 0) {
        if (!cursor) cursor = std::make_unique<SourceCursor>(module, source_, Password(nullptr));
        const EntryMeta& fresh = cursor->Seek(rec->sourceIndex);
        meta.mac = fresh.mac;
        writer->Begin(meta);
        for (size_t n; (n = cursor->Read(buf.data(), buf.size())) > 0;) {
          copied += static_cast<int64_t>(n);
          if (meta.sizeExact && meta.uncompressedSize >= 0 && copied > meta.uncompressedSize) break;
          writer->Write(buf.data(), n);
        }
      } else {
        UniqueFd in = OpenDiskFile(*rec);
        struct stat st {};
        if (::fstat(in.get(), &st) != 0) ThrowErrno(errno);
        meta.uncompressedSize = st.st_size;
        meta.sizeExact = true;
        if (module.WantsMacForks()) {
          Bytes companion = ReadSmallFile(AppleDoubleName(rec->diskPath), 64u << 20);
          auto mac = std::make_shared<MacForks>();
          if (DecodeAppleDouble(companion, *mac)) meta.mac = mac;
        }
        writer->Begin(meta);
        for (;;) {
          ssize_t r = ReadSome(in.get(), buf.data(), buf.size());
          if (r < 0) ThrowErrno(errno);
          if (r == 0) break;
          copied += r;
          if (copied > meta.uncompressedSize) break;
          writer->Write(buf.data(), static_cast<size_t>(r));
        }
      }
      if (meta.sizeExact && meta.uncompressedSize >= 0 && copied != meta.uncompressedSize)
        ThrowEngine(engine_error::Damaged, "The data of " + meta.path + " does not match its recorded size of " +
                                               std::to_string(meta.uncompressedSize) + " bytes; nothing was saved.");
      writer->End();
    }
    writer->Finish();
    writer.reset();
    UniqueFd sync(::open(temp.c_str(), O_RDONLY | O_CLOEXEC));
    if (sync.get() >= 0) ::fsync(sync.get());
    MoveIntoPlace(temp, target);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }

  // The saved file is the archive from now on.
  UniqueFd fd(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno(errno);
  source_ = SourceFile{fd.get(), target, st.st_size, dosPath};
  sourceFd_ = std::move(fd);
  LoadItems();
}

}  // namespace torvane::engine
