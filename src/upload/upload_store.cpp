#include "upload/upload_store.h"

#include <charconv>

#include "files/file.h"
#include "form/cform_input.h"
#include "platform/fileservices.h"

namespace torvane {

namespace {

constexpr const char* kHiddenPrefix = ".~LK";
constexpr int32_t kLastVersion = 32767;  // the version counter is 16-bit

// The folder part of a physical path (without its last separator).
std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::pair<uint64_t, uint64_t> IdOf(const std::string& path) {
  PathInfo info;
  if (!StatPath(path, info)) return {0, 0};
  return {static_cast<uint64_t>(info.device), static_cast<uint64_t>(info.inode)};
}

// The hidden file of this folder that is `id`: where another request that
// replaced a name keeps the content it replaced. "" when there is none.
std::string HiddenFileWithId(const std::string& folder, std::pair<uint64_t, uint64_t> id) {
  try {
    for (const std::string& name : FolderNames(folder)) {
      if (name.rfind(kHiddenPrefix, 0) != 0) continue;
      std::string path = folder + "\\" + name;
      if (IdOf(path) == id) return path;
    }
  } catch (...) {
  }
  return "";
}

void DeleteQuietly(const std::string& path) {
  if (path.empty()) return;
  try {
    DeleteFileAt(path);
  } catch (...) {
    // Cleaning up after a failure: what cannot go stays (nothing else can be done).
  }
}

}  // namespace

// ---- UploadStore ---------------------------------------------------------------------

std::unique_ptr<BufferedFile> UploadStore::Begin(const std::shared_ptr<File>& file, bool ownsFinal) {
  Entry e;
  e.file = file;
  e.finalPath = file->PhysicalPath();
  e.inPlace = ownsFinal;
  entries_.push_back(e);  // recorded first: a failure below still undoes what was made
  Entry& added = entries_.back();
  if (added.inPlace) {
    // A name this request created: the bytes go straight under it. The file
    // was made empty a moment ago, so it is cut only if something wrote into
    // it since (see EmptyOpenFile for why not O_TRUNC).
    added.contentPath = added.finalPath;
    auto sink = std::make_unique<BufferedFile>(added.finalPath, NumberedFile::Mode::Overwrite);
    PathInfo info;
    bool known = StatOpenFile(sink->fd(), info);
    if (known) added.bytes = {static_cast<uint64_t>(info.device), static_cast<uint64_t>(info.inode)};
    if (!known || info.size != 0) EmptyOpenFile(sink->fd());
    return sink;
  }
  PathInfo info;
  int fd = OpenNewTempFileIn(FolderOf(added.finalPath), kHiddenPrefix, added.contentPath, info);
  added.bytes = {static_cast<uint64_t>(info.device), static_cast<uint64_t>(info.inode)};
  return std::make_unique<BufferedFile>(fd);
}

bool UploadStore::Holds(const std::string& path, std::pair<uint64_t, uint64_t> id) {
  return id.second != 0 && IdOf(path) == id;
}

UploadStore::Entry* UploadStore::Find(const File& file) {
  for (auto& e : entries_)
    if (e.file.get() == &file) return &e;
  return nullptr;
}

void UploadStore::Commit(const File& file) {
  Entry* e = Find(file);
  if (!e || e->committed) return;
  if (e->inPlace) {
    e->committed = true;  // the bytes are under their name already
    return;
  }
  // An exchange rather than a rename over the name: the old file is kept
  // aside in one step, and some file systems (ext4) flush a file's data when
  // it replaces another by rename, which would make the upload wait for the disk.
  if (ExchangePaths(e->contentPath, e->finalPath)) {
    e->keepsOld = true;  // the old file, kept aside
  } else {
    PathInfo info;
    if (!StatPath(e->finalPath, info)) {
      ReplacePath(e->contentPath, e->finalPath);  // the old file is gone already
    } else {
      // No exchange on this file system: the old file moves aside first.
      std::string aside = CreateTempFileIn(FolderOf(e->finalPath), kHiddenPrefix);
      ReplacePath(e->finalPath, aside);
      try {
        ReplacePath(e->contentPath, e->finalPath);
      } catch (...) {
        ReplacePath(aside, e->finalPath);
        throw;
      }
      e->contentPath = aside;
      e->keepsOld = true;
    }
  }
  e->committed = true;
}

void UploadStore::Undo(Entry& e, bool traced) {
  // Where this request's bytes are now, if they are still anywhere it knows.
  std::string bytes = e.contentPath;
  if (e.inPlace || e.committed) {
    bool ours = Holds(e.finalPath, e.bytes);
    if (e.keepsOld && ours) {
      // The old file returns under its name; the new bytes go to the hidden
      // name (or, without an exchange, are dropped by the replace). When the
      // old file is gone (the request that wrote it failed and took it), only
      // the new bytes remain to go.
      PathInfo old;
      try {
        if (ExchangePaths(e.contentPath, e.finalPath)) {
        } else if (StatPath(e.contentPath, old)) {
          ReplacePath(e.contentPath, e.finalPath);
          bytes.clear();
        } else {
          bytes = e.finalPath;
        }
      } catch (...) {
      }
    } else {
      // Another request has replaced this one's file since and keeps its bytes
      // aside: they go, and the old content this one kept aside does not come
      // back (the name belongs to the later request now).
      if (e.keepsOld) DeleteQuietly(e.contentPath);
      bytes = ours ? e.finalPath : HiddenFileWithId(FolderOf(e.finalPath), e.bytes);
    }
  }
  if (traced && !bytes.empty()) {
    // Deleted through the File, as a page would see it; its Name stays.
    e.file->SetPath(bytes);
    try {
      e.file->Delete();
    } catch (...) {
    }
    e.file->SetPath(e.finalPath);
  } else {
    DeleteQuietly(bytes);
  }
}

void UploadStore::Discard(CFormInput* inputs) {
  if (discarded_) return;
  discarded_ = true;
  std::vector<bool> done(entries_.size(), false);
  int32_t count = inputs ? inputs->Count() : 0;
  for (int32_t i = 0; i < count; ++i) {
    auto file = std::dynamic_pointer_cast<File>(inputs->At(static_cast<size_t>(i))->FileObject());
    if (!file) continue;
    if (Entry* e = Find(*file)) {
      Undo(*e, true);
      done[static_cast<size_t>(e - entries_.data())] = true;
    } else if (file->InMemory()) {
      try {
        file->Delete();  // nothing on disk: the File only forgets it exists
      } catch (...) {
      }
    }
  }
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!done[i]) Undo(entries_[i], false);
  entries_.clear();
}

void UploadStore::Keep() {
  for (auto& e : entries_)
    if (e.keepsOld) DeleteQuietly(e.contentPath);
  entries_.clear();
}

// ---- VersionNames ---------------------------------------------------------------------

VersionNames::Folder& VersionNames::Lookup(const std::string& dosDir, const std::string& stem,
                                           const std::string& suffix) {
  std::string key = dosDir + '\0' + stem + '\0' + suffix;
  auto it = folders_.find(key);
  if (it != folders_.end()) return it->second;
  Folder f;
  f.taken.assign(kLastVersion + 1, false);
  return folders_.emplace(std::move(key), std::move(f)).first->second;
}

void VersionNames::Scan(Folder& f, const std::string& dosDir, const std::string& stem, const std::string& suffix) {
  std::string head = stem + "(";
  std::string tail = ")" + suffix;
  for (const std::string& name : FolderNames(dosDir)) {
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    const char* digits = name.data() + head.size();
    const char* end = name.data() + name.size() - tail.size();
    if (*digits == '0') continue;  // the names made here never have leading zeros
    int32_t n = 0;
    auto [p, ec] = std::from_chars(digits, end, n);
    if (ec == std::errc() && p == end && n >= 1 && n <= kLastVersion) f.taken[static_cast<size_t>(n)] = true;
  }
}

int32_t VersionNames::NextFree(const std::string& dosDir, const std::string& stem, const std::string& suffix) {
  Folder& f = Lookup(dosDir, stem, suffix);
  if (f.handedOut == kTriesBeforeScan) Scan(f, dosDir, stem, suffix);
  ++f.handedOut;
  while (f.lowest <= kLastVersion && f.taken[static_cast<size_t>(f.lowest)]) ++f.lowest;
  return f.lowest <= kLastVersion ? f.lowest : 0;
}

void VersionNames::MarkTaken(const std::string& dosDir, const std::string& stem, const std::string& suffix,
                             int32_t n) {
  if (n >= 1 && n <= kLastVersion) Lookup(dosDir, stem, suffix).taken[static_cast<size_t>(n)] = true;
}

}  // namespace torvane
