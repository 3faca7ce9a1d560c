// Directory: the listing (List), its sort keys, and RecurseDelete, which walks
// the listing depth-first.
#include "dirs/cfiles.h"
#include "dirs/directory.h"
#include "automation/error.h"
#include "basics/utf8.h"
#include "dirs/sorting.h"
#include "files/file.h"
#include "platform/dirservices.h"

namespace torvane {


namespace {

// The sort key of one entry for `sortOrder`, read through the entry's public
// getters (which write their own trace lines). Text keys are upper-cased; an
// unknown order gives every entry the same empty key.
Variant SortKey(File& f, int32_t sortOrder) {
  switch (sortOrder) {
    case sort_type::Name: return Variant(UpperText(f.FileName()));
    case sort_type::Size: return Variant(f.Size());
    case sort_type::Modified: return Variant::Date(f.LastModified());
    case sort_type::Extension: return Variant(UpperText(f.FileExtension()));
    case sort_type::FileType: return Variant(UpperText(f.FileType()));
    case sort_type::MimeType: return Variant(UpperText(f.MimeType()));
    default: return Variant();
  }
}

// The key an entry is filed under. A case-sensitive file system can hold two
// names that differ only in letter case, which the collection's keys do not
// tell apart: the later one is filed without a key (still reachable by
// position) instead of failing the whole listing. A name already present with
// the same letters is a real duplicate and fails as usual.
std::string EntryKey(const CFiles& files, const std::string& name) {
  return files.HasKeyInOtherCase(name) ? std::string() : name;
}

}  // namespace

void Directory::List() {
  if (listed_ || !files_) files_ = CFiles::New();
  listed_ = false;
  auto names = FolderSearch(physicalPath_ + mask_);
  if (!names) return;
  try {
    for (const std::string& name : *names) {
      if (name == "." || name == "..") continue;
      auto entry = File::New();
      entry->SetTraceChannel(trace_.channel());
      entry->SetName(path_ + name);
      files_->Add(entry, EntryKey(*files_, name));
    }
    int32_t n = files_->Count();
    if (n >= 2 && sortOrder_ != sort_type::None) {
      VArray keys{1, {}}, order{1, {}};
      keys.items.reserve(static_cast<size_t>(n));
      order.items.reserve(static_cast<size_t>(n));
      for (int32_t i = 1; i <= n; ++i) {
        order.items.emplace_back(i);
        keys.items.push_back(SortKey(*files_->At(static_cast<size_t>(i - 1)), sortOrder_));
      }
      CombSort(keys, order, 1, n);
      auto sorted = CFiles::New();
      for (const Variant& position : order.items) {
        auto entry = files_->At(static_cast<size_t>(position.rawInt() - 1));
        std::string fullName = entry->Name();
        sorted->Add(entry, EntryKey(*sorted, fullName));
      }
      files_ = std::move(sorted);
    }
    TracePath("Directory.List - Listed ");
    listed_ = true;
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in Directory.List *** - Listing of " + path_ + mask_ + " Failed.", e.number,
                 e.description);
    throw ComponentError(e.number, e.description, "Directory");
  }
}

void Directory::RecurseDeleteSteps(Directory& dir) {
  dir.SetMask("*.*");
  dir.List();
  if (dir.GetFiles()->Count() < 1) {
    dir.DeleteFolder(Variant(false));
    return;
  }
  auto files = dir.GetFiles();
  std::vector<std::shared_ptr<File>> entries;
  for (int32_t i = 0; i < files->Count(); ++i) entries.push_back(files->At(static_cast<size_t>(i)));
  for (const auto& entry : entries) {
    // A symbolic link is removed itself, never followed: deleting through it
    // would empty a folder outside the tree that was asked for.
    if (entry->IsDirectory() && !IsSymbolicLink(entry->PhysicalPath())) {
      auto sub = Directory::New();
      sub->SetTraceChannel(trace_.channel());
      sub->SetPath(entry->Name());
      RecurseDelete(*sub);
    } else {
      entry->Delete();
    }
  }
  dir.DeleteFolder(Variant(false));
}

}  // namespace torvane
