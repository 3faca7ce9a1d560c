// Directory: one folder on the server, named by a physical path (C:\data\in)
// or a virtual path of the site (/uploads).
//
// Fields: Path (as the page gave it, with one trailing separator added when it
// has none: "/" when it starts with "/", otherwise "\"), PhysicalPath (what
// ResolvePath maps it to, always ending with "\"; every file-system call uses
// it), Mask ("*.*"), SortOrder (TV_SORT_NAME), the cached listing Files with its
// Listed flag, the owner/ACL cache and the trace channel.
//
// The listing (List) reads the folder into a cFiles of File objects, keyed by
// bare names when it was left unsorted and by full names when it was sorted.
// Path let empties it; Mask let, SortOrder let, Refresh, Create, CreateTemp,
// Delete and Rename rebuild it at once; reading files rebuilds it when it is
// not current.
//
// The typed C++ methods do exactly what the public member of the same name does,
// trace lines and errors included. Package-internal operations (SetTraceChannel,
// PhysicalPath, PathField, List, RecurseDelete, ResetAces) write no trace line
// of their own unless stated.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/object.h"
#include "host/trace.h"
#include "security/acl_holder.h"

namespace torvane {

class CFiles;

// Values of SortOrder (TV_SORT_TYPE).
namespace sort_type {
constexpr int32_t Name = 0;
constexpr int32_t Size = 1;
constexpr int32_t Modified = 2;
constexpr int32_t Extension = 3;
constexpr int32_t FileType = 4;
constexpr int32_t MimeType = 5;
constexpr int32_t None = 6;
}  // namespace sort_type

class Directory : public Object, public AceOwner {
 public:
  // Member table in slot order (dispatch id 0 is Path):
  //   ListAces, ACEs get, Attributes let/get, Owner let/get, Mask let/get,
  //   InsertSort, QuickSort, files set/get, Path let/get, SortOrder let/get,
  //   Refresh, CreateTemp, Delete, Create, TraceFile set/get, Exists,
  //   OnStartPage, Rename, ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // ProgID factory: fresh fields (Mask "*.*"); no script-context attach (a
  // Directory attaches only in OnStartPage).
  static ObjectRef Create();
  static std::shared_ptr<Directory> New();

  // ---- properties ----------------------------------------------------------
  // Path let: PhysicalPath from ResolvePath (its error reaches the caller and
  // nothing changes), Path normalised, trace, listing emptied (same cFiles),
  // ACL cache dropped. The folder is not touched.
  void SetPath(const std::string& value);
  // Path get: trace "Directory.GetPath - Path Returned for <Path><Mask>.".
  std::string GetPath();
  // Mask let: trace (showing the old mask), store, List.
  void SetMask(const std::string& value);
  std::string GetMask();
  // SortOrder let: the value as a 32-bit integer (13 when it has none), stored
  // as it is, trace, List.
  void SetSortOrder(const Variant& value);
  int32_t GetSortOrder();
  // files get: List when not current; the cached cFiles (created when absent).
  std::shared_ptr<CFiles> GetFiles();
  // files set: always fails with 9004 after its trace line.
  [[noreturn]] void SetFiles(const Variant& value);
  // Attributes of PhysicalPath, read each time (a missing folder fails with
  // the system error 2). No trace.
  int32_t GetAttributes();
  // Sets them with the directory bit (16) cleared. No trace.
  void SetAttributes(int32_t value);

  // ---- operations --------------------------------------------------------------
  void Refresh();
  // Directory.Create(Path): Path and PhysicalPath from the argument, then one
  // new folder (the parent must exist; an existing one fails).
  void CreateFolder(const Variant& path);
  // Directory.CreateTemp(Path): a new folder "LK..." inside the folder the
  // argument names; afterwards Path is that folder's physical path.
  void CreateTempFolder(const Variant& path);
  // Directory.Delete([Recurse]): removes the folder (and, with Recurse true and
  // entries under the Mask, everything in it first). Retried once.
  void DeleteFolder(const Variant& recurse = Variant::Missing());
  // Directory.Rename(Path): moves the folder to the new name; never replaces an
  // existing one. Retried once.
  void RenameFolder(const Variant& path);
  // Whether anything exists at PhysicalPath (without its trailing "\").
  bool Exists();
  void SetTraceFile(const Variant& file);
  Variant TraceFile();
  std::string ToXML(const Variant& properties = Variant::Missing(), const Variant& extra = Variant::Missing());

  // ---- owner and access-control entries (through AclHolder) -------------------
  void ListAces();
  Variant ACEs();
  std::string Owner();
  void SetOwner(const std::string& owner);
  // AceOwner: cACE.Add outside loading empties this folder's cache.
  void ResetAces() override;

  // ---- package-internal ------------------------------------------------------------
  void SetTraceChannel(TraceChannel channel) { trace_.SetChannel(std::move(channel)); }
  const TraceChannel& traceChannel() const { return trace_.channel(); }
  // The physical folder path, always ending with "\" once a path was set.
  const std::string& PhysicalPath() const { return physicalPath_; }
  // The Path field without the getter's trace line.
  const std::string& PathField() const { return path_; }
  const std::string& MaskField() const { return mask_; }
  int32_t SortOrderField() const { return sortOrder_; }
  bool Listed() const { return listed_; }
  // Rebuilds Files for the current Path, Mask and SortOrder.
  void List();
  // Empties the folder of `dir` depth-first and removes it. Retried once.
  void RecurseDelete(Directory& dir);

  // The temporary-name service CreateTemp asks (the system utility stand-in by
  // default): it creates an empty file with a new name starting with `prefix`
  // in `folder` and returns its full path. Replaces the calling thread's
  // service (an empty function restores the default) and returns the previous
  // one; tests use it to reach CreateTemp's fallbacks.
  using TempNameService = std::function<std::string(const std::string& folder, const std::string& prefix)>;
  static TempNameService SetTempNameService(TempNameService service);

 private:
  void Trace(std::string_view message) const { trace_.Write(message); }
  // message + Path + Mask + "."
  void TracePath(std::string_view message) const;
  void TraceFailure(std::string_view first, int32_t number, const std::string& description) const;
  // The refresh step: List, then drop the access-control cache.
  void RefreshStep();
  void DeleteSteps(const Variant& recurse);
  void RecurseDeleteSteps(Directory& dir);
  void RenameSteps(const std::string& newPath);
  std::string CreateTempSteps(const Variant& path);
  // Files, created empty on first use.
  CFiles& FilesRef();
  SecurityTarget Target() const;

  std::string path_;
  std::shared_ptr<CFiles> files_;
  bool listed_ = false;
  std::string mask_ = "*.*";
  int32_t sortOrder_ = sort_type::Name;
  std::string physicalPath_;
  AclHolder acl_;
  TraceFileProperty trace_;
};

// The trailing-separator rule of Path: one "/" (when the path starts with "/")
// or "\" appended unless the path already ends with either.
std::string WithTrailingSeparator(std::string_view path);

}  // namespace torvane
