// UploadStore: the disk files of one parse, from their creation to its end.
//
// A file under a name this request created (exclusively: a temporary name, a
// version, a name that did not exist) receives its bytes under that name. A
// file that replaces an existing one (TV_UPLOAD_OVERWRITE) receives them under
// a hidden name (".~LK" + random characters) created exclusively beside it and
// takes the name in one step only when its part is complete: a reader never
// sees the old file half-replaced, and the old file is kept aside, not deleted,
// until the parse ends.
//
// A parse that fails undoes all of it, whatever the failure: every file the
// request created goes, and every file it replaced gets its old content back.
// A parse that ends well keeps the new files and drops the old contents.
// Undoing touches only what this request made: a name that another request
// has filled since (the last writer wins) is left to that request.
#pragma once

#include <memory>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "upload/buffered_file.h"

namespace torvane {

class CFormInput;
class File;

class UploadStore {
 public:
  UploadStore() = default;
  UploadStore(const UploadStore&) = delete;
  UploadStore& operator=(const UploadStore&) = delete;

  // A disk file of this request: `file` names its final place already;
  // `ownsFinal` says that this request created that name (the bytes then go
  // straight under it). Returns the open sink for the part's bytes.
  std::unique_ptr<BufferedFile> Begin(const std::shared_ptr<File>& file, bool ownsFinal);
  // The part of `file` is complete and its sink closed: bytes written beside
  // an existing file take its name; the old file is kept aside until the
  // parse ends.
  void Commit(const File& file);
  // The parse failed: undoes every file of the request. Files filed in
  // `inputs` are deleted through their File (its trace line), in collection
  // order, in-memory ones included; the others silently. Errors are ignored;
  // a second call finds nothing left to do.
  void Discard(CFormInput* inputs);
  // The parse ended well: the old contents kept aside are removed.
  void Keep();

 private:
  struct Entry {
    std::shared_ptr<File> file;
    std::string finalPath;    // physical path of the final name
    std::string contentPath;  // where the bytes go: the final name, or a hidden file
                              // (after an exchange: the old file, kept aside)
    bool inPlace = false;     // the final name is this request's own
    bool committed = false;
    bool keepsOld = false;    // committed by an exchange: contentPath holds the old file
    // The file holding this entry's bytes (device, inode), so that undoing it
    // never touches what another request has put under the same name since.
    std::pair<uint64_t, uint64_t> bytes{0, 0};
  };
  Entry* Find(const File& file);
  // True when `path` is the file `id` (device, inode).
  static bool Holds(const std::string& path, std::pair<uint64_t, uint64_t> id);
  // Undoes one entry; `traced` deletes the new bytes through the File.
  void Undo(Entry& e, bool traced);

  std::vector<Entry> entries_;
  bool discarded_ = false;
};

// The numbers n of the names "stem(n)suffix" known to be taken in folders,
// kept for the rest of the request. The first few candidates are tried one
// by one (most names have no version yet, or a few, and several requests that
// store the same name at once should not all read the folder); after that the
// folder is scanned once, so that many versions of one name cost one scan,
// not one look-up per candidate.
class VersionNames {
 public:
  // The lowest n from 1 to 32767 not known to be taken in the physical folder
  // `dosDir`; 0 when all are taken.
  int32_t NextFree(const std::string& dosDir, const std::string& stem, const std::string& suffix);
  // Marks n taken (created by this request, or found taken meanwhile).
  void MarkTaken(const std::string& dosDir, const std::string& stem, const std::string& suffix, int32_t n);

  // Candidates handed out for one name before its folder is scanned.
  static constexpr int32_t kTriesBeforeScan = 4;

 private:
  struct Folder {
    std::vector<bool> taken;  // index n, 1..32767
    int32_t lowest = 1;       // no free number below it
    int32_t handedOut = 0;    // NextFree answers so far (past kTriesBeforeScan: scanned)
  };
  Folder& Lookup(const std::string& dosDir, const std::string& stem, const std::string& suffix);
  // Marks every "stem(n)suffix" present in the folder.
  static void Scan(Folder& f, const std::string& dosDir, const std::string& stem, const std::string& suffix);
  std::unordered_map<std::string, Folder> folders_;
};

}  // namespace torvane
