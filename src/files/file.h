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

class Request;
class Response;

class File : public Object, public AceOwner, public TraceTarget {
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
  // The derived fields as the last ReadTypeInfo / ReadDiskInfo left them, each
  // with its trace line. Size is 64-bit (a 5 GiB file reports 5368709120) and
  // is the size found on disk, never the in-memory content's length.
  std::string FileName();
  std::string FileType();
  std::string FileExtension();
  std::string MimeType();
  // MimeType put: replaces the field (trace line).
  void SetMimeType(const std::string& value);
  int64_t Size();
  // Always fails with 9000 (after its trace line); Size is unchanged.
  [[noreturn]] void SetSize(const Variant& value);
  // The exists flag as the last disk read left it (no disk access).
  bool Exists();
  // Attribute bit 16 / bit 1 of Attributes() (a failed read counts as 0); trace.
  bool IsDirectory();
  bool IsReadonly();
  // Attributes get: the disk's bits (TV_FILE_ATTRIBUTES), stored and returned.
  // A missing path fails with the system's error, untraced.
  int32_t Attributes();
  // Attributes put: the disk gets value without bit 16; the field keeps value.
  void SetAttributes(int32_t value);
  // InMemory get and put: plain field access, no trace.
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value) { inMemory_ = value; }

  // ---- disk operations ---------------------------------------------------
  // File.Create(Name): creates (or empties) the file and reads its data. A
  // read-only file is refused with 5 and left as it is.
  void CreateFile(const std::string& name);
  // Package-internal: Create without touching an existing file. Creates the
  // file new and exclusively and then does what CreateFile does; false, with
  // nothing changed, when the name exists. Failures are traced as Create's.
  bool CreateNew(const std::string& name);
  // Package-internal: fails with 5 "Access is denied." when the file at the
  // physical path carries the read-only attribute. Every operation that
  // writes, truncates, replaces, deletes or re-dates a file checks it first,
  // whoever the process runs as (root ignores the missing write bits).
  static void RefuseReadonly(std::string_view physicalPath);
  // File.CreateTemp(Path): a new empty "~LK..." file in the folder `path`
  // names; appends "/" or "\" to `path` when it ends in neither.
  void CreateTemp(std::string& path);
  // Moves the disk file (an existing target is never replaced) or, in memory,
  // only renames; one silent retry, then the two failure lines.
  void Rename(const std::string& newName);
  // Deletes the disk file (not in memory) and clears the exists flag; one
  // silent retry, then the two failure lines.
  void Delete();
  // Writes the content (in memory) or copies the file to `target`, which then
  // holds exactly those bytes; returns a new on-disk File for it.
  std::shared_ptr<File> Copy(const std::string& target);
  // Re-reads type and disk data and drops the ACL cache; no trace.
  void Refresh();

  // ---- in-memory content and transfers ------------------------------------
  // Load([Name]): the disk file's bytes become the content (an empty file an
  // empty content); InMemory True.
  void Load(const Variant& name = Variant::Missing());
  // Save([Name]): 9036 unless in memory; writes exactly the content to the
  // (new) physical path; InMemory False.
  void Save(const Variant& name = Variant::Missing());
  // Export(field, Append, [InMemory]): the field's value (ActualSize, GetChunk
  // called late-bound) into the content or the disk file (300000-byte chunks).
  void Export(const Variant& field, const Variant& append, const Variant& inMemory = Variant::Missing());
  // Import(field): the content or the disk file into the field's AppendChunk
  // (30000-byte chunks from disk); 9027 when neither exists.
  void Import(const Variant& field);
  // Compare(sName): byte equality of the disk file and the named file; 9027
  // when either is missing.
  bool Compare(const std::string& otherName);

  // ---- metadata -------------------------------------------------------------
  // 32 upper-case hex digits of the content (in memory) or of the disk file.
  std::string MD5();
  // Last write time of the physical path as a local automation date; a missing
  // path fails with the system's error.
  double LastModified();
  // LastModified put: sets the access and write times (SetFileDateTime).
  void SetLastModified(double date);
  // "Sun, 6 Nov 1994 08:49:37 GMT" of LastModified (offset at that date).
  std::string LastModifiedGMT();
  // Calls DllRegisterServer of the shared object; 9027 when the exists flag
  // is False; a negative failure code is raised as its low 16 bits.
  void RegisterDLL();

  // ---- download ---------------------------------------------------------------
  // Sends the file or content through the page's Response: 304 for an equal
  // If-Modified-Since, 206 for one satisfiable range, 416 for a range outside
  // the file, else 200; 15000-byte chunks. False when the client went away.
  bool Download(const Variant& mimeType = Variant::Missing(), const Variant& modDate = Variant::Missing(),
                const Variant& responseEnd = Variant::Missing(), const Variant& deleteFile = Variant::Missing());

  // ---- owner and access-control entries --------------------------------------
  // List, ACEs get, Owner get and let: through the shared AclHolder.
  void List();
  Variant ACEs();
  std::string Owner();
  void SetOwner(const std::string& owner);
  // AceOwner: cACE.Add outside loading empties this file's cache.
  void ResetAces() override;

  // ---- XML and trace log ---------------------------------------------------------
  // <file>...</file> with the twelve properties (a failing getter, such as
  // Owner without security support, is left out).
  std::string ToXML(const Variant& properties = Variant::Missing(), const Variant& extra = Variant::Missing());
  // TraceFile set by reference and get (the shared TraceFile pattern).
  void SetTraceFile(const Variant& file);
  Variant TraceFile();

  // ---- package-internal --------------------------------------------------------
  // Trace channel = channel (shared with the object that hands it on).
  void SetTraceChannel(TraceChannel channel) { trace_.SetChannel(std::move(channel)); }
  const TraceChannel& traceChannel() const { return trace_.channel(); }
  // The physical (DOS-form) path of the file.
  const std::string& PhysicalPath() const { return physicalPath_; }
  // Where a trace log named by this File is opened: its physical path.
  std::string TraceLogPath() const override { return physicalPath_; }
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
  // Reads Attributes, then TracedBit; a failed read counts as 0.
  bool AttributeBit(int32_t bit, const char* trace);
  // Writes `trace` + Name + "." and tells whether `bit` is set in `bits`.
  bool TracedBit(int32_t bits, int32_t bit, const char* trace);
  // Extension, MIME type and file type from Name and the registry.
  void ReadTypeInfo();
  // FileName, Size and exists flag from Name and the disk; folder type.
  void ReadDiskInfo();
  void DropAces();
  SecurityTarget Target(bool withIsDirectory);
  void Trace(std::string_view message) const { trace_.Write(message); }
  // Writes the two failure lines ("first", then "(n) text").
  void TraceFailure(std::string_view first, const Error& e) const;

  // Download's steps (file_download.cpp), in the order they run.
  struct DownloadState;
  bool DownloadSteps(DownloadState& s, const Variant& mimeType, const Variant& modDate);
  void ReadDownloadDates(DownloadState& s, Request& request);
  void ReadDownloadRange(DownloadState& s, Request& request);
  double DownloadDate(const Variant& modDate);
  void PrepareDownloadResponse(DownloadState& s, Response& response, const Variant& mimeType);
  std::string DownloadEntityTag() const;
  bool AnswerNotModified(DownloadState& s, Request& request, Response& response, bool dateGiven);
  void KeepRangeIfUnchanged(DownloadState& s, Request& request);
  void OpenDownloadSource(DownloadState& s);
  void ResolveDownloadRange(DownloadState& s);
  void CheckDownloadContentType(const DownloadState& s, Response& response);
  void AddDownloadHeaders(DownloadState& s, Response& response);
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
