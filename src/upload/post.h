// Post: receives an HTML form posted as multipart/form-data.
//
// A page sets Directory, the limits, CodePage, CheckMacBinary, and optionally
// TraceFile, DumpFile and ProgressBarID, then reads FormInputs (or calls
// Upload). The first read of FormInputs parses the whole request body once
// (the upload driver with the record parser) and every later read returns the
// same collection. MaxFileSize and MaxTotalFileSize are 64-bit byte counts; a
// value below 1 means no limit.
//
// The request limits (members after the original ones): MaxFiles files and
// MaxParts parts (files and ordinary fields together) a request may carry,
// MaxFieldSize bytes one ordinary field may hold and MaxTotalFieldSize all of
// them together. They start at the host's defaults (Settings); a value below 1
// means no limit. Exceeding one fails with 9038, 9039, 9040 or 9041, and every
// failed parse leaves none of the request's files behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "automation/object.h"
#include "form/cform_input.h"
#include "host/trace.h"
#include "upload/buffered_file.h"
#include "upload/record_parser.h"

namespace torvane {

class Directory;
class ProgressBar;

// TV_UPLOAD_TYPE: how each uploaded file is stored.
enum UploadType : int32_t {
  kUploadUseTemp = 0,
  kUploadOverwrite = 1,
  kUploadMakeVersions = 2,
  kUploadErrorIfExists = 3,
  kUploadInMemory = 4,
};

class Post : public Object {
 public:
  Post();
  // Member table, slot order: Directory set/get, TraceFile set/get, DumpFile
  // set/get, MaxTotalFileSize put, CodePage get/put, MaxTotalFileSize get,
  // MaxFileSize put/get, ProgressBarID put/get, FormInputs set (refused, 9010),
  // FormInputs get (default), Flush, OnStartPage, Upload(Path, FileMethod,
  // CheckMacBinary, ProgressBarID), CheckMacBinary get/put, ToXML, then
  // MaxFiles, MaxParts, MaxFieldSize, MaxTotalFieldSize, AllowPageFiles (get
  // and put each).
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A new Post with its defaults; attaches the script context (91 outside a page).
  static ObjectRef Create();
  static std::shared_ptr<Post> CreateTyped();

  // Public members (each writes its trace line as the page would see it).
  void SetDirectory(const Variant& directory);  // a Directory (or Nothing), else 13
  Variant GetDirectory();
  void SetTraceFile(const Variant& file);
  Variant GetTraceFile();
  // Stores the File and opens its Name for the dump, emptying it.
  void SetDumpFile(const Variant& file);
  Variant GetDumpFile();
  void SetMaxTotalFileSize(int64_t v);
  int64_t GetMaxTotalFileSize();
  int32_t GetCodePage();
  void SetCodePage(int32_t v);
  void SetMaxFileSize(int64_t v);
  int64_t GetMaxFileSize();
  // Stores the identifier and binds a new ProgressBar to it (13 when the
  // application store holds no record under it).
  void SetProgressBarID(const std::string& id);
  std::string GetProgressBarID();
  [[noreturn]] void RefuseFormInputs();
  // Parses the request on the first call; returns the collection.
  std::shared_ptr<CFormInput> GetFormInputs();
  // Reads and drops the body bytes still unread (errors ignored).
  void Flush();
  // Missing arguments: see the member table's rules.
  void Upload(const Variant& path, const Variant& fileMethod, const Variant& checkMacBinary,
              const Variant& progressBarID);
  bool GetCheckMacBinary() const { return checkMacBinary_; }
  void SetCheckMacBinary(bool on);
  std::string ToXML(const Variant& properties, const Variant& extra);
  int32_t GetMaxFiles();
  void SetMaxFiles(int32_t v);
  int32_t GetMaxParts();
  void SetMaxParts(int32_t v);
  int64_t GetMaxFieldSize();
  void SetMaxFieldSize(int64_t v);
  int64_t GetMaxTotalFieldSize();
  void SetMaxTotalFieldSize(int64_t v);
  // Whether a file the host would run as a page (.asp, .asa, .inc) may be
  // stored in a folder where the host runs pages (Server.PagesRunIn). Off by
  // default: such an upload fails with 9042 and keeps nothing of the request.
  bool GetAllowPageFiles();
  void SetAllowPageFiles(bool on);

  // Package-internal reads (no trace lines).
  int32_t FileMethod() const { return fileMethod_; }
  bool Parsed() const { return parsed_; }
  const std::shared_ptr<Directory>& DirectoryObject() const { return directory_; }
  const std::shared_ptr<ProgressBar>& Progress() const { return progress_; }
  int64_t BytesRemaining() const { return parser_.BytesRemaining(); }

 private:
  friend class UploadDriver;
  void Trace(std::string_view message) const { trace_.Write(message); }
  // The upload driver: the one parse of the request (upload_driver.cpp).
  void ParseRequest();
  std::shared_ptr<CFormInput> EnsureFormInputs();

  std::shared_ptr<CFormInput> formInputs_;
  int64_t maxFileSize_ = -1;
  int64_t maxTotalFileSize_ = -1;
  ObjectRef dumpFile_;
  std::unique_ptr<BufferedFile> dump_;
  TraceFileProperty trace_;
  std::shared_ptr<Directory> directory_;
  bool parsed_ = false;
  RecordParser parser_;
  int32_t codePage_ = 0;
  std::string progressBarID_;
  std::shared_ptr<ProgressBar> progress_;
  bool checkMacBinary_ = true;
  bool checkMacBinarySet_ = false;
  int32_t fileMethod_ = kUploadUseTemp;
  int32_t maxFiles_;
  int32_t maxParts_;
  int64_t maxFieldSize_;
  int64_t maxTotalFieldSize_;
  bool allowPageFiles_ = false;
};

}  // namespace torvane
