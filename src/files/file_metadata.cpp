// File: MD5, the modification date (local and as GMT text) and RegisterDLL.
#include "files/file.h"
#include "automation/component_errors.h"
#include "files/file_internal.h"
#include "files/httpdate.h"
#include "host/policy.h"
#include "platform/fileservices.h"

namespace torvane {

using files_internal::Reduced;

namespace {
constexpr size_t kDigestChunk = 15000;
}

std::string File::MD5() {
  try {
    Md5Digest digest;
    if (inMemory_) {
      if (content_) digest.Update(*content_);
    } else {
      PosixFile in(physicalPath_, PosixFile::Mode::Read);
      uint8_t buffer[kDigestChunk];
      for (size_t n; (n = in.Read(buffer)) > 0;) digest.Update(std::span<const uint8_t>(buffer, n));
    }
    md5_ = digest.FinalHex();
    return md5_;
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.MD5 *** - MD5 Computation of File " + name_ + " Failed.", e);
    throw e;
  }
}

double File::LastModified() {
  try {
    return DateFromUnix(StatPathOrThrow(physicalPath_).mtime);
  } catch (...) {
    throw CaughtError();
  }
}

void File::SetLastModified(double date) {
  try {
    RefuseReadonly(physicalPath_);
    SetFileDateTime(physicalPath_, date);
  } catch (...) {
    throw CaughtError();
  }
}

std::string File::LastModifiedGMT() { return FormatGmtText(LastModified()); }

void File::RegisterDLL() {
  try {
    if (!exists_) throw ComponentError(component_error::FileMissing, "File " + name_ + " does not exist.", "File");
    RegisterServer(physicalPath_);
    Trace("File.RegisterDLL - RegisterDLL " + name_ + ".");
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.RegisterDLL *** - RegisterDLL of " + name_ + " Failed.", e);
    throw Reduced(e);
  }
}

}  // namespace torvane
