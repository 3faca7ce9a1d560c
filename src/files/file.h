// File: one file on the server's disks, or a block of bytes held in memory
// under a file name.
//
// Pages create it as Torvane.File; the upload engine creates one per uploaded
// file, a Directory listing one per entry, and every TraceFile is a File.
// Fields: Name (as the page gave it) and the physical path it maps to through
// ResolvePath; the derived FileName, FileExtension, FileType, MimeType, Size
// and exists flag (recomputed only by the operations that say so); Attributes;
// InMemory and the in-memory content; the owner/ACL cache; the trace channel.
//
// The typed C++ methods below do exactly what the public member of the same
// name does, trace lines and errors included; a trace channel that is null
// writes nothing. Package-internal operations (SetTraceChannel, PhysicalPath,
// SetPath, the content operations) write no trace line.
//
// Implementation is split by concern: file.cpp (object, names, disk
// operations), file_content.cpp (in-memory content, Load/Save, field transfer,
// Compare), file_metadata.cpp (MD5, dates, RegisterDLL), file_download.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "automation/object.h"
#include "host/trace.h"
#include "security/acl_holder.h"

namespace torvane {

class File : public Object, public AceOwner {
 public:
  // Member table in slot order (dispatch id 0 is Name):
  //   MD5 get, Attributes let/get, InMemory get/set, RegisterDLL, List, ACEs get,
  //   Owner let/get, LastModified get/set, LastModifiedGMT get, Export, Import,
  //   Compare, Download, CreateTemp, Create, Rename, Delete, Copy, Load, Save,
  //   IsDirectory, IsReadonly, Size let/get, MimeType let/get, Name let,
  //   Refresh, Name get, FileName, FileType, FileExtension, TraceFile set/get,
  //   Exists, OnStartPage, ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // ProgID factory: fresh fields, then the script-context attach (tolerated
  // outside a page, where a File still works on physical paths).
  static ObjectRef Create();
  // The same, typed.
  static std::shared_ptr<File> New();

  // ---- names and derived properties -------------------------------------
  // Name get: trace "File.GetName - Returned Name of <Name>.".
  std::string Name();
  // Name put: Name = value, physical path = ResolvePath(value); on disk (not
  // InMemory) re-reads type and disk data and drops the ACL cache; trace. A
  // path the policy refuses fails with 9030 after Name was stored.
  void SetName(const std::string& value);
  std::string FileName();
  std::string FileType();
  std::string FileExtension();
  std::string MimeType();
  void SetMimeType(const std::string& value);
  int64_t Size();
  // Always fails with 9000 (after its trace line); Size is unchanged.
  [[noreturn]] void SetSize(const Variant& value);
  // The exists flag as the last disk read left it (no disk access).
  bool Exists();
  bool IsDirectory();
  bool IsReadonly();
  int32_t Attributes();
  void SetAttributes(int32_t value);
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value) { inMemory_ = value; }

  // ---- disk operations ---------------------------------------------------
  // File.Create(Name): creates (or empties) the file and reads its data.
  void CreateFile(const std::string& name);
  // File.CreateTemp(Path): a new empty "~LK..." file in the folder `path`
  // names; appends "/" or "\" to `path` when it ends in neither.
  void CreateTemp(std::string& path);
  void Rename(const std::string& newName);
  void Delete();
  std::shared_ptr<File> Copy(const std::string& target);
  void Refresh();

  // ---- in-memory content and transfers ------------------------------------
  void Load(const Variant& name = Variant::Missing());
  void Save(const Variant& name = Variant::Missing());
  void Export(const Variant& field, const Variant& append, const Variant& inMemory = Variant::Missing());
  void Import(const Variant& field);
  bool Compare(const std::string& otherName);

  // ---- metadata -------------------------------------------------------------
  std::string MD5();
  double LastModified();  // automation date, local time
  void SetLastModified(double date);
  std::string LastModifiedGMT();
  void RegisterDLL();

  // ---- download ---------------------------------------------------------------
  bool Download(const Variant& mimeType = Variant::Missing(), const Variant& modDate = Variant::Missing(),
                const Variant& responseEnd = Variant::Missing(), const Variant& deleteFile = Variant::Missing());

  // ---- owner and access-control entries --------------------------------------
  void List();
  Variant ACEs();
  std::string Owner();
  void SetOwner(const std::string& owner);
  // AceOwner: cACE.Add outside loading empties this file's cache.
  void ResetAces() override;

  // ---- XML and trace log ---------------------------------------------------------
  std::string ToXML(const Variant& properties = Variant::Missing(), const Variant& extra = Variant::Missing());
  void SetTraceFile(const Variant& file);
  Variant TraceFile();

  // ---- package-internal --------------------------------------------------------
  void SetTraceChannel(TraceChannel channel) { trace_.SetChannel(std::move(channel)); }
  const TraceChannel& traceChannel() const { return trace_.channel(); }
  // The physical (DOS-form) path of the file.
  const std::string& PhysicalPath() const { return physicalPath_; }
  // Physical path = path; nothing else changes.
  void SetPath(const std::string& path) { physicalPath_ = path; }
  // Content present and empty.
  void ClearContent();
  // Content = n zero bytes (keepBytes false, or empty content), or cut/extended
  // with zero bytes to n keeping its first bytes. n is the new last position
  // (1-based), i.e. the new length; negative fails with 9.
  void ResizeContent(int64_t upperBound, bool keepBytes);
  // Byte at 1-based position p = b; p outside the content fails with 9.
  void SetContentByte(int64_t position, uint8_t byte);
  // Bytes go to positions p .. p+size-1 (1-based); outside the content fails with 9.
  void CopyIntoContent(int64_t position, std::span<const uint8_t> bytes);
  // A copy of the content (empty when absent).
  Bytes GetContent() const;
  // The content without copying; nullptr when absent.
  const Bytes* ContentView() const { return content_ ? &*content_ : nullptr; }

 private:
  // Extension, MIME type and file type from Name and the registry.
  void ReadTypeInfo();
  // FileName, Size and exists flag from Name and the disk; folder type.
  void ReadDiskInfo();
  void DropAces();
  SecurityTarget Target(bool withIsDirectory);
  void Trace(std::string_view message) const { trace_.Write(message); }
  // Writes the two failure lines ("first", then "(n) text").
  void TraceFailure(std::string_view first, const Error& e) const;

  // Download's steps (file_download.cpp).
  struct DownloadState;
  bool DownloadSteps(DownloadState& s, const Variant& mimeType, const Variant& modDate);
  bool SendBody(DownloadState& s);

  std::string name_;
  std::string physicalPath_;
  std::string fileName_;
  std::string fileExtension_;
  std::string fileType_;
  std::string mimeType_;
  int64_t size_ = 0;
  int32_t attributes_ = 0;
  bool exists_ = false;
  bool inMemory_ = false;
  std::optional<Bytes> content_;
  std::string md5_;
  AclHolder acl_;
  TraceFileProperty trace_;
};

}  // namespace torvane
