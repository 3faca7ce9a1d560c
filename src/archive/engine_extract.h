// The engine's extraction sink: writes folders, files and links below one
// destination folder and nowhere else, counts what it writes, and takes it all
// back when the extraction fails part-way.
//
// Every name it receives is relative to the destination and has already been
// checked by the engine (no absolute path, no ".." component, link targets
// inside the destination on paper). The sink does not trust the text: the
// destination is opened once, and every entry is created relative to it by a
// walk that follows no symbolic link (openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS, or one component at a time with O_NOFOLLOW). A folder
// on the way that is a link on disk refuses the entry (engine_error::UnsafeEntry);
// a link or file in the very place of an entry is replaced, never followed.
//
// Symbolic links are created last, after every file and hard link, and then
// every link below the destination is resolved the way the kernel would
// (ResolveBeneath): one that leads outside, through links of this archive or
// links already there ("a/up -> .." and "pw -> a/up/../../etc/passwd"), fails
// the extraction with UnsafeEntry. The whole folder is walked for this only when
// the extraction creates or replaces a link; links that already led outside
// before it are not its business and stay as they were.
//
// Until Finish succeeds nothing is final: files and folders it created are
// removed again and what it replaced is put back (a replaced entry is first
// renamed to a ".~LK" name beside it), also the destination folders it had to
// create. A failure therefore leaves the destination as it found it.
//
// Bounds: an entry may not grow beyond the size its archive records for it,
// and all entries together may not exceed the budget; either stops the
// extraction with engine_error::TooLarge.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/engine_format.h"
#include "archive/engine_util.h"

namespace torvane::engine {

class DiskSink {
 public:
  // Creates `nativeDest` (and the missing folders above it) and opens it; the
  // page chose that path, so links on it are followed. `budget` is the byte
  // bound (-1: none); `archiveSize` is named in its error text.
  DiskSink(const std::string& nativeDest, int64_t budget, int64_t archiveSize);
  // Takes everything back unless Finish succeeded.
  ~DiskSink();
  DiskSink(const DiskSink&) = delete;
  DiskSink& operator=(const DiskSink&) = delete;

  void Folder(const std::string& rel, const EntryMeta& meta);
  // `display` names the entry in error texts.
  void BeginFile(const std::string& rel, const EntryMeta& meta, const std::string& display);
  void Write(const uint8_t* data, size_t n);
  void EndFile();
  // Closes the file being written after a failure (the roll-back removes it).
  void AbortFile();
  // Queued: symbolic links and hard links are made by Finish.
  void Symlink(const std::string& rel, const EntryMeta& meta, const std::string& display);
  void Hardlink(const std::string& rel, const std::string& targetRel, const std::string& display);
  // Makes the hard links and then the symbolic links, checks where every link
  // below the destination leads, and makes the extraction final (replaced
  // entries dropped, folder times applied).
  void Finish();

  int64_t Written() const { return written_; }

 private:
  enum class StepKind { Created, CreatedFolder, Backup };
  struct Step {
    StepKind kind;
    std::string rel;     // the entry's place
    std::string backup;  // Backup: the name the replaced entry was moved to (same folder)
  };
  struct PendingLink {
    std::string rel, target, display;
    int64_t mtime = 0;
  };
  using Identity = std::pair<dev_t, ino_t>;

  int Parent(const std::string& dirRel, const std::string& display);
  int MakeFolders(const std::string& dirRel, const std::string& display);
  bool MakeRoom(int dirFd, const std::string& rel, const std::string& display, bool folderWanted);
  void MakeHardlink(const PendingLink& link);
  void MakeSymlink(const PendingLink& link);
  void LinksChanging();
  std::set<Identity> LinksLeadingOut(std::vector<std::pair<Identity, std::string>>* found = nullptr) const;
  void CheckLinks();
  void Commit();
  void RollBack() noexcept;

  UniqueFd root_;
  std::vector<std::string> createdAbove_;  // destination folders this sink created, outermost first
  int64_t budget_;
  int64_t archiveSize_;
  int64_t written_ = 0;
  int64_t entryWritten_ = 0;
  int64_t entryDeclared_ = -1;
  UniqueFd file_;  // the file being written
  int64_t fileMtime_ = 0;
  std::string display_;
  std::string cachedParentRel_;
  UniqueFd cachedParent_;
  std::vector<Step> steps_;
  std::vector<std::pair<std::string, int64_t>> folderTimes_;
  std::vector<std::pair<std::string, mode_t>> folderModes_;
  std::vector<PendingLink> hardlinks_;  // target: the linked entry's place
  std::vector<PendingLink> symlinks_;   // target: the link's text
  bool linksChanged_ = false;
  std::set<Identity> outBefore_;  // links that already led outside before the first link changed
  bool committed_ = false;
};

}  // namespace torvane::engine
