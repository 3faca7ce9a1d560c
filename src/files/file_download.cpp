// File.Download: sends the file, or its in-memory content, through the page's
// Response: If-Modified-Since (304), Unless-Modified-Since and If-Range (a
// changed file cancels the range), one byte range (206, or 416 when it lies
// outside the file), streamed in 15000-byte chunks with the client checked
// before each chunk.
#include <algorithm>
#include <cstdio>

#include "files/file.h"
#include "automation/component_errors.h"
#include "basics/ascii.h"
#include "files/file_internal.h"
#include "files/httpdate.h"
#include "host/script_context.h"
#include "platform/fileservices.h"

namespace torvane {


namespace {

constexpr size_t kDownloadChunk = 15000;
constexpr const char* kConflictText = "File.Download - A conflicting HTTP ContentType header was already sent";

bool Given(const Variant& v) { return !v.isMissing(); }

// A server variable as text ("" when the request has none).
std::string ServerText(Request& request, const char* name) {
  Variant v = request.ServerVariables(name);
  if (v.isEmpty() || v.isNull()) return "";
  return v.toString();
}

// A date reduced to whole seconds the way the default date text does.
double WholeSeconds(double date) { return DateFromText(DateToText(date)); }

// The current date and time plus 100 years (February 29 becomes the 28th).
double HundredYearsAhead() {
  DateParts p = PartsFromDate(NowDate());
  p.year += 100;
  bool leap = (p.year % 4 == 0 && p.year % 100 != 0) || p.year % 400 == 0;
  if (p.month == 2 && p.day == 29 && !leap) p.day = 28;
  return DateFromParts(p);
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

// "\"" + first + "-" + second + "\"".
std::string QuotedTag(const std::string& first, const std::string& second) {
  std::string tag;
  tag.reserve(first.size() + second.size() + 3);
  tag.push_back('"');
  tag.append(first);
  tag.push_back('-');
  tag.append(second);
  tag.push_back('"');
  return tag;
}

// A range number: decimal text, converted by the automation rules (text that is
// no number fails with 13, one too large with 6).
int64_t RangeNumber(const std::string& text) { return Variant(text).toInt64(); }

}  // namespace

struct File::DownloadState {
  bool responseEnd = false;
  bool deleteFile = false;
  bool modifiedSinceValid = false;
  double modifiedSince = 0;
  bool unlessSinceValid = false;
  double unlessSince = 0;
  bool partial = false;
  bool haveStart = false, haveEnd = false;
  int64_t rangeStart = -1, rangeEnd = -1;
  int64_t length = 0;
  int64_t total = 0;
  bool unsatisfiable = false;
  double modDate = 0;
  std::string contentType;
  std::string entityTag;
  PosixFile file;
  Bytes rangeBuffer;
};

bool File::Download(const Variant& mimeType, const Variant& modDate, const Variant& responseEnd,
                    const Variant& deleteFile) {
  DownloadState s;
  try {
    if (!exists_ && !inMemory_) throw ComponentError(component_error::FileMissing,
                                                     "File " + name_ + " does not exist.", "File");
    s.responseEnd = Given(responseEnd) ? responseEnd.toBool() : false;
    s.deleteFile = Given(deleteFile) ? deleteFile.toBool() : false;
    return DownloadSteps(s, mimeType, modDate);
  } catch (...) {
    Error e = CaughtError();
    s.file.Close();
    TraceFailure("***Error in File.Download *** - Download of File " + name_ + " Failed.", e);
    throw e;
  }
}

bool File::DownloadSteps(DownloadState& s, const Variant& mimeType, const Variant& modDate) {
  Request& request = ScriptRequest();
  Response& response = ScriptResponse();

  // Conditional headers: a date that does not parse is ignored.
  std::string text = ServerText(request, "HTTP_IF_MODIFIED_SINCE");
  Trace("HTTP_IF_MODIFIED_SINCE");
  if (!text.empty()) {
    Trace("File.Download - Modified Since Found: " + text);
    try {
      s.modifiedSince = ParseHttpDate(text);
      s.modifiedSinceValid = true;
    } catch (const Error&) {
    }
  }
  text = ServerText(request, "HTTP_UNLESS_MODIFIED_SINCE");
  Trace("HTTP_UNLESS_MODIFIED_SINCE");
  if (!text.empty()) {
    Trace("File.Download - Unmodified Since Found: " + text);
    try {
      s.unlessSince = ParseHttpDate(text);
      s.unlessSinceValid = true;
    } catch (const Error&) {
    }
  }

  // One range "bytes=S-E", "bytes=S-" or "bytes=-N"; lists are not supported.
  Trace("1");
  std::string range = ServerText(request, "HTTP_RANGE");
  Trace("2");
  if (range.size() > 7 && range.rfind("bytes=", 0) == 0 && range.find(',') == std::string::npos) {
    s.partial = true;
    Trace("File.Download - Range Found: " + range);
    std::string spec = range.substr(6);
    size_t dash = spec.find('-');
    std::string before = dash == std::string::npos ? "" : spec.substr(0, dash);
    std::string after = dash == std::string::npos ? "" : spec.substr(dash + 1);
    if (!before.empty()) {
      s.rangeStart = RangeNumber(before);
      s.haveStart = true;
    }
    if (!after.empty()) {
      s.rangeEnd = RangeNumber(after);
      s.haveEnd = true;
    }
    // No dash, nothing around it, or a negative number: not a range.
    if (dash == std::string::npos || (!s.haveStart && !s.haveEnd) || (s.haveStart && s.rangeStart < 0) ||
        (s.haveEnd && s.rangeEnd < 0))
      s.partial = false;
  }

  Trace("3");
  if (Given(modDate))
    s.modDate = modDate.toDate();
  else if (!inMemory_)
    s.modDate = WholeSeconds(LastModified());
  else
    s.modDate = HundredYearsAhead();

  // Output the page buffered and never sent cannot come before the file: it
  // would go out inside the file's Content-Length and push the file's last
  // bytes out. It is dropped (output already sent is error 9014 below).
  if (!response.HeadersSent()) {
    int64_t unsent = response.BufferedBytes();
    if (unsent > 0) {
      response.Clear();
      Trace("File.Download - Discarded " + std::to_string(unsent) + " bytes of buffered page output.");
    }
  }

  try {
    s.contentType = Given(mimeType) ? mimeType.toString() : mimeType_;
    response.SetContentType(s.contentType);
    response.SetBuffer(false);
    response.SetCacheControl("public");
  } catch (...) {
    // Caught by the content type check below.
  }

  Trace("4");
  if (s.modifiedSinceValid) {
    // In-memory content without a ModDate has no date a cached copy could
    // carry: its invented date may repeat within a second, so it never matches.
    bool inventedDate = inMemory_ && !Given(modDate);
    if (!inventedDate && WholeSeconds(s.modifiedSince) == s.modDate) {
      Trace("File.Download - Returned 304 Not Modified");
      response.SetStatus("304 Not Modified");
      if (s.deleteFile) Delete();
      if (s.responseEnd) response.End();
      return true;
    }
    Trace("File.Download - File Changed");
  }

  // The entity tag names this version of the file: modification time and size
  // in hexadecimal for a disk file (as nginx writes it), a digest of the bytes
  // and their length for in-memory content.
  if (inMemory_) {
    Md5Digest digest;
    if (content_) digest.Update(*content_);
    std::string hex = AsciiLower(digest.FinalHex().substr(0, 16));
    s.entityTag = QuotedTag(hex, Hex(content_ ? content_->size() : 0));
  } else {
    PathInfo info = StatPathOrThrow(physicalPath_);
    s.entityTag = QuotedTag(Hex(static_cast<uint64_t>(info.mtime)), Hex(static_cast<uint64_t>(info.size)));
  }

  Trace("5");
  if (s.partial && s.unlessSinceValid && WholeSeconds(s.unlessSince) != s.modDate) s.partial = false;
  if (s.partial) {
    // If-Range: the range holds only for the version the client named.
    std::string ifRange = ServerText(request, "HTTP_IF_RANGE");
    if (!ifRange.empty()) {
      bool same = false;
      if (ifRange[0] == '"' || ifRange.rfind("W/", 0) == 0) {
        same = ifRange == s.entityTag;
      } else {
        try {
          same = WholeSeconds(ParseHttpDate(ifRange)) == s.modDate;
        } catch (const Error&) {
          same = false;
        }
      }
      if (!same) s.partial = false;
    }
  }

  Trace("6");
  if (!inMemory_) {
    s.file = PosixFile(physicalPath_, PosixFile::Mode::Read);
    s.total = s.file.Length();
  } else {
    s.total = content_ ? static_cast<int64_t>(content_->size()) : 0;
  }

  if (s.partial) {
    // Ranges never reach outside the file: an end past the last byte is cut to
    // it, a suffix longer than the file is the whole file, and a start at or
    // past the end (or an end before the start) cannot be satisfied.
    if (s.haveStart) {
      if (!s.haveEnd) s.rangeEnd = s.total - 1;
      if (s.rangeStart >= s.total || s.rangeEnd < s.rangeStart) s.unsatisfiable = true;
      s.rangeEnd = std::min(s.rangeEnd, s.total - 1);
    } else {
      if (s.rangeEnd == 0 || s.total == 0) s.unsatisfiable = true;
      s.rangeStart = std::max<int64_t>(0, s.total - s.rangeEnd);
      s.rangeEnd = s.total - 1;
    }
    s.length = s.unsatisfiable ? 0 : s.rangeEnd - s.rangeStart + 1;
    Trace("RangeStart=" + std::to_string(s.rangeStart) + ";RangeEnd=" + std::to_string(s.rangeEnd) +
          ";lFileSize=" + std::to_string(s.length));
    if (!s.unsatisfiable) {
      if (!inMemory_) {
        s.file.Seek(s.rangeStart);
      } else {
        auto first = content_->begin() + static_cast<std::ptrdiff_t>(s.rangeStart);
        s.rangeBuffer.assign(first, first + static_cast<std::ptrdiff_t>(s.length));
      }
    }
  } else {
    s.length = s.total;
  }

  Trace("7");
  if (response.ContentType() != s.contentType) {
    Trace(kConflictText);
    throw ComponentError(component_error::ContentTypeConflict, kConflictText, "File");
  }

  response.AddHeader("Last-Modified", FormatHttpDate(s.modDate));
  response.AddHeader("Accept-Ranges", "bytes");
  response.AddHeader("Etag", s.entityTag);
  if (s.unsatisfiable) {
    std::string value = "bytes */" + std::to_string(s.total);
    response.AddHeader("Content-Range", value);
    Trace(value);
    response.AddHeader("Content-Length", "0");
    response.SetStatus("416 Range Not Satisfiable");
  } else if (s.partial) {
    std::string value = "bytes " + std::to_string(s.rangeStart) + "-" + std::to_string(s.rangeEnd) + "/" +
                        std::to_string(s.total);
    response.AddHeader("Content-Range", value);
    Trace(value);
    response.AddHeader("Content-Length", std::to_string(s.length));
    response.SetStatus("206 Partial Content");
  } else {
    response.AddHeader("Content-Length", std::to_string(s.length));
  }

  if (!s.unsatisfiable) {
    Trace("8");
    if (!SendBody(s)) return false;
  }

  Trace("10");
  if (s.responseEnd) response.End();
  return true;
}

bool File::SendBody(DownloadState& s) {
  Response& response = ScriptResponse();
  if (inMemory_) {
    if (s.partial) {
      response.BinaryWrite(s.rangeBuffer);
    } else {
      static const Bytes kEmpty;
      response.BinaryWrite(content_ ? *content_ : kEmpty);
    }
    return true;
  }
  Bytes buffer;
  // Where the next chunk starts in the file; a host that can send file bytes
  // itself (sendfile) takes them from there without a copy through memory.
  int64_t position = s.partial ? s.rangeStart : 0;
  bool transmitted = false;
  while (s.length > 0) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(s.length, static_cast<int64_t>(kDownloadChunk)));
    bool connected = true;
    try {
      connected = response.IsClientConnected();
    } catch (...) {
      connected = true;
    }
    if (!connected) {
      s.file.Close();
      if (s.deleteFile) Delete();
      if (s.responseEnd) response.End();
      return false;
    }
    if (response.TransmitFile(s.file.fd(), position, static_cast<int64_t>(chunk))) {
      transmitted = true;
    } else {
      if (transmitted) s.file.Seek(position);
      transmitted = false;
      buffer.resize(kDownloadChunk);
      std::span<uint8_t> piece(buffer.data(), chunk);
      s.file.ReadExact(piece);
      response.BinaryWrite(piece);
    }
    position += static_cast<int64_t>(chunk);
    s.length -= static_cast<int64_t>(chunk);
  }
  Trace("9");
  s.file.Close();
  if (s.deleteFile) {
    try {
      Delete();
    } catch (...) {
    }
  } else {
    ReadTypeInfo();
    ReadDiskInfo();
  }
  return true;
}

}  // namespace torvane
