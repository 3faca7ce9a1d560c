// Archive: creates, opens, fills, lists, extracts from and saves archive files
// (ZIP, GZIP, TAR, MIME, StuffIt, MacBinary) through the archive engine
// (engine.h). It adds what a page sees: the format chosen from the file
// extension, the open/closed state and its error 9032, the path policy on
// every disk path, the password hand-over, and a cached listing (one
// cArchiveEntry for the Archive's life, emptied and refilled in place when
// stale).
//
// Failures: 9032, 9028 and 9031 are raised directly. Any other failure inside
// Extract, NewArchive, OpenArchive, SaveArchive, Add, Entries ("GetEntries")
// and IterateEntries writes "***Error in Archive.<op>***." and
// "(<number>) <description>" to the trace log and is raised again with the
// number reduced to its low 16 bits when negative; Delete reduces without
// tracing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/engine.h"
#include "automation/object.h"
#include "host/trace.h"

namespace torvane {

class CArchiveEntry;
using engine::EngineArchive;
using engine::EngineInfo;
using engine::EngineItem;
using engine::EngineOptions;

class Archive : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A new Archive with its defaults; attaches the script context (fails
  // outside a page, as every class that attaches on creation does).
  static ObjectRef Create();
  static std::shared_ptr<Archive> New();
  Archive();
  ~Archive() override;

  void SetPassword(std::string password) { password_ = std::move(password); }
  void SetTempDir(const std::string& value);
  const std::string& TempDir() const { return tempDir_; }
  bool SupportsFolders() const;
  bool SupportsEmptyArchives() const;
  bool SupportsUnCompressedSize() const;
  int32_t ArchiveType() const;
  void Extract(const Variant& sourcePath, const Variant& destPath, const Variant& flatten);
  void NewArchive(const Variant& path, const Variant& archiveType);
  void OpenArchive(const Variant& path);
  void SaveArchive(const Variant& path);
  void Delete(const Variant& path);
  void Add(const Variant& path, const Variant& recurse, const Variant& flatten);
  std::shared_ptr<CArchiveEntry> Entries();
  void SetTraceFile(const Variant& file) { trace_.Set(file, "File"); }
  Variant TraceFile() const { return trace_.Get("File"); }
  void CloseArchive();
  std::string ToXML(const Variant& properties, const Variant& extra);

  // Package-internal state, for tests and callers inside the component.
  bool IsOpen() const { return isOpen_; }
  bool EntriesStale() const { return entriesStale_; }
  const std::string& ArchivePath() const { return archivePath_; }

 private:
  template <class F>
  void Handled(const char* operation, F&& body);
  void RequireOpen() const;
  void PrepareEngine();
  void ApplyPassword();
  void Refresh();
  void IterateEntries(const std::shared_ptr<EngineItem>& folder);
  EngineInfo Info() const;

  std::shared_ptr<CArchiveEntry> entries_;
  bool entriesStale_ = false;
  std::unique_ptr<EngineArchive> engine_;
  std::string archivePath_;
  bool isOpen_ = false;
  TraceFileProperty trace_;
  std::string tempDir_;
  std::string password_;
  std::shared_ptr<EngineOptions> options_;
  std::string separator_ = "\\";
};

// The type a path's ending selects (".ZIP" 0, ".GZ" 10, ".TAR" 21, ".MMM" 13,
// ".SIT" 20, ".BIN" 12, letter case ignored), or -1.
int32_t ArchiveTypeFromPath(const std::string& path);

}  // namespace torvane
