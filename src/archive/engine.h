// The archive engine: the stand-in for the companion library's engine that
// Archive drives. It offers exactly the operations Archive relies on (create,
// SetTempDir, SetArchiveType, OpenFile, SaveFile, GetInfo, EncryptionMethods,
// FolderItems / FindItems / NextItem, the Item* readers, AddFiles,
// ExtractFiles, DeleteFiles, and the options object), over the format modules
// of engine_format.h.
//
// Model: an engine archive holds the list of its entries in archive order.
// Entries read from an archive file point back into that file (kept open for
// the life of the engine object); entries added from disk point at their disk
// file until the archive is saved. SaveFile writes every entry into a new file
// in TempDir, moves it into place, and then reads the saved file back as the
// new source. The folder tree that FolderItems walks is built from the list:
// a folder that the archive only implies (a/b.txt without a/) is listed as a
// folder of its own, and each folder's children keep their archive order.
//
// Paths that pages see (ItemPath) use "\" between components. Patterns of
// ExtractFiles and DeleteFiles are matched against those paths, letter case
// ignored: "*" matches any run of characters (separators included), "?" one
// character, "/" counts as "\"; a matching folder brings everything below it.
// A pattern without wildcards that matches nothing is an error.
//
// Extraction never writes outside the destination: entries with absolute
// paths or ".." components, links whose targets leave the destination on
// paper, and device or pipe entries are refused before anything is written;
// every entry is created relative to the opened destination by a walk that
// follows no link, symbolic links come last and are then resolved as the
// kernel would (DiskSink, engine_extract.h); a refusal or failure part-way
// takes back everything written; and the bytes written are bounded
// (Settings.archiveExtractMaxRatio / archiveExtractMaxBytes, and each entry's
// recorded size).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/engine_format.h"
#include "archive/engine_util.h"

namespace torvane::engine {

// Flags of AddFiles and ExtractFiles.
constexpr int32_t kEngineNoRecurse = 64;  // only the named files, no subdirectories
constexpr int32_t kEngineFlatten = 128;   // drop the directory part of every path

// One encryption method the current format can write.
class EncryptionMethod {
 public:
  EncryptionMethod(int32_t kind, std::string name) : kind_(kind), name_(std::move(name)) {}
  int32_t MethodKind() const { return kind_; }
  const std::string& Name() const { return name_; }

 private:
  int32_t kind_;
  std::string name_;
};

// A set of named options handed to AddFiles and ExtractFiles.
class EngineOptions {
 public:
  void SetOption(const std::string& name, const std::string& value);
  void SetObjectOption(const std::string& name, std::shared_ptr<EncryptionMethod> method);
  // The option's text ("" when unset); names compare without regard to case.
  std::string Option(const std::string& name) const;
  std::shared_ptr<EncryptionMethod> ObjectOption(const std::string& name) const;

 private:
  std::map<std::string, std::string> text_;
  std::map<std::string, std::shared_ptr<EncryptionMethod>> objects_;
};

// One entry of the archive as the engine keeps it.
struct ItemRecord {
  EntryMeta meta;
  int64_t sourceIndex = -1;  // position in the source archive file; -1 when added from disk
  std::string diskPath;      // native path of a file added from disk
  bool followLink = false;   // the page named this file itself (a link to it is followed)
  std::string normalizedKey; // folded, cleaned path: the identity used by Add
};

class EngineItemList;

// A file or folder in the engine's tree (an implied folder has no record).
class EngineItem {
 public:
  // Bit 0x10 for a folder, 0x20 (archive) for the rest.
  uint8_t ItemAttributes() const;
  // The path inside the archive with "\" separators; `flags` is not used.
  const std::string& ItemPath(int32_t flags = 0) const { return path_; }
  int64_t ItemCompressedSize(int32_t flags = 0) const;
  int64_t ItemUnCompressedSize() const;
  // The folder's items (an empty list for a file).
  std::shared_ptr<EngineItemList> FolderItems() const;

 private:
  friend class EngineArchive;
  friend class EngineItemList;
  std::string name_;
  std::string path_;
  bool folder_ = false;
  std::shared_ptr<ItemRecord> record_;
  std::vector<std::shared_ptr<EngineItem>> children_;
};

class EngineItemEnum {
 public:
  explicit EngineItemEnum(std::vector<std::shared_ptr<EngineItem>> items) : items_(std::move(items)) {}
  // Takes up to `count` items; `delivered` says how many (0 at the end). Only
  // the last one taken is returned (Archive asks for one at a time).
  std::shared_ptr<EngineItem> NextItem(int32_t count, int32_t& delivered);

 private:
  std::vector<std::shared_ptr<EngineItem>> items_;
  size_t pos_ = 0;
};

class EngineItemList {
 public:
  explicit EngineItemList(std::vector<std::shared_ptr<EngineItem>> items) : items_(std::move(items)) {}
  // An enumerator over the items whose names match `pattern` ("*" for all).
  std::shared_ptr<EngineItemEnum> FindItems(const std::string& pattern) const;

 private:
  std::vector<std::shared_ptr<EngineItem>> items_;
};

class EngineArchive {
 public:
  EngineArchive();
  ~EngineArchive();
  EngineArchive(const EngineArchive&) = delete;
  EngineArchive& operator=(const EngineArchive&) = delete;

  void SetTempDir(const std::string& dosDir) { tempDir_ = dosDir; }
  // Selects the format a save writes. Unknown codes and formats the engine
  // cannot write fail.
  void SetArchiveType(int32_t type);
  // Loads the archive at the DOS path; its format comes from its content.
  void OpenFile(const std::string& dosPath);
  // Writes every entry to the DOS path.
  void SaveFile(const std::string& dosPath);
  EngineInfo GetInfo() const;
  std::vector<std::shared_ptr<EncryptionMethod>> EncryptionMethods() const;
  // The archive's root folder.
  std::shared_ptr<EngineItem> RootFolder();

  // Adds the file, folder or wildcard match named by the DOS path (flags above).
  void AddFiles(const std::string& dosPath, int32_t flags, const std::shared_ptr<EngineOptions>& options);
  // Writes the entries matching `pattern` under the DOS destination folder.
  void ExtractFiles(const std::string& pattern, const std::string& dosDest, int32_t flags, int32_t separator,
                    const std::shared_ptr<EngineOptions>& options);
  // Removes the entries matching `pattern` (folders with their contents).
  void DeleteFiles(const std::string& pattern, int32_t separator);

  // Package-internal: the options a save uses to decrypt kept entries and to
  // encrypt the archive (Archive hands over the options it builds for a password).
  void UseOptions(const std::shared_ptr<EngineOptions>& options) { saveOptions_ = options; }

 private:
  const FormatModule& Module() const;
  void LoadItems();
  void BuildTree();
  std::vector<std::shared_ptr<EngineItem>> Select(const std::string& pattern, int32_t separator);
  std::string Password(const std::shared_ptr<EngineOptions>& options) const;
  int64_t ExtractBudget() const;

  int32_t type_ = 0;
  std::string tempDir_;
  SourceFile source_;
  UniqueFd sourceFd_;
  std::vector<std::shared_ptr<ItemRecord>> items_;
  std::shared_ptr<EngineItem> root_;
  bool treeDirty_ = true;
  std::shared_ptr<EngineOptions> saveOptions_;
};

}  // namespace torvane::engine
