// File.Download: sends the file, or its in-memory content, through the page's
// Response: If-None-Match and If-Modified-Since (304), Unless-Modified-Since
// and If-Range (a changed file cancels the range), one byte range (206, or 416
// when it lies outside the file), streamed in 15000-byte chunks with the
// client checked before each chunk. The range and validator rules are the
// ones the host's static files use (basics/http_conditional.h).
#include <algorithm>
#include <cstdio>

#include "files/file.h"
#include "automation/component_errors.h"
#include "basics/ascii.h"
#include "basics/http_conditional.h"
#include "basics/http_date.h"
#include "files/file_internal.h"
#include "files/httpdate.h"
#include "host/script_context.h"
#include "platform/fileservices.h"

namespace torvane {


namespace {

constexpr size_t kDownloadChunk = 15000;
// Chunks a host that sends file bytes itself (sendfile) takes per call.
constexpr size_t kChunksPerTransmit = 64;
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

// An HTTP date into `out`; false (and `out` unchanged) when it does not parse.
bool ParseDate(const std::string& text, double& out) {
  try {
    out = ParseHttpDate(text);
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace

struct File::DownloadState {
  bool responseEnd = false;
  bool deleteFile = false;
  bool modifiedSinceValid = false;
  double modifiedSince = 0;
  bool unlessSinceValid = false;
  double unlessSince = 0;
  bool partial = false;
  ByteRangeSpec range;       // as the Range header wrote it
  ResolvedRange resolved;    // inside the file (when partial)
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
  ReadDownloadDates(s, request);
  ReadDownloadRange(s, request);
  Trace("3");
  s.modDate = DownloadDate(modDate);
  PrepareDownloadResponse(s, response, mimeType);
  s.entityTag = DownloadEntityTag();
  Trace("4");
  if (AnswerNotModified(s, request, response, Given(modDate))) return true;
  Trace("5");
  KeepRangeIfUnchanged(s, request);
  Trace("6");
  OpenDownloadSource(s);
  ResolveDownloadRange(s);
  Trace("7");
  CheckDownloadContentType(s, response);
  AddDownloadHeaders(s, response);
  if (!s.unsatisfiable) {
    Trace("8");
    if (!SendBody(s)) return false;
  }
  Trace("10");
  if (s.responseEnd) response.End();
  return true;
}

// If-Modified-Since and Unless-Modified-Since: a date that does not parse is
// ignored (the header is still traced as found).
void File::ReadDownloadDates(DownloadState& s, Request& request) {
  std::string text = ServerText(request, "HTTP_IF_MODIFIED_SINCE");
  Trace("HTTP_IF_MODIFIED_SINCE");
  if (!text.empty()) {
    Trace("File.Download - Modified Since Found: " + text);
    s.modifiedSinceValid = ParseDate(text, s.modifiedSince);
  }
  text = ServerText(request, "HTTP_UNLESS_MODIFIED_SINCE");
  Trace("HTTP_UNLESS_MODIFIED_SINCE");
  if (!text.empty()) {
    Trace("File.Download - Unmodified Since Found: " + text);
    s.unlessSinceValid = ParseDate(text, s.unlessSince);
  }
}

// One range "bytes=S-E", "bytes=S-" or "bytes=-N"; lists are not supported.
// A number that does not convert fails the download.
void File::ReadDownloadRange(DownloadState& s, Request& request) {
  Trace("1");
  std::string range = ServerText(request, "HTTP_RANGE");
  Trace("2");
  if (range.size() <= 7 || range.rfind("bytes=", 0) != 0 || range.find(',') != std::string::npos) return;
  s.partial = true;
  Trace("File.Download - Range Found: " + range);
  std::string spec = range.substr(6);
  size_t dash = spec.find('-');
  std::string before = dash == std::string::npos ? "" : spec.substr(0, dash);
  std::string after = dash == std::string::npos ? "" : spec.substr(dash + 1);
  if (!before.empty()) s.range.first = RangeNumber(before);
  if (!after.empty()) s.range.last = RangeNumber(after);
  // No dash, nothing around it, or a negative number: not a range.
  if (dash == std::string::npos || (!s.range.first && !s.range.last) || (s.range.first && *s.range.first < 0) ||
      (s.range.last && *s.range.last < 0))
    s.partial = false;
}

// The ModDate argument unchanged; else the file's date to the second; else
// (in-memory content) a century ahead.
double File::DownloadDate(const Variant& modDate) {
  if (Given(modDate)) return modDate.toDate();
  if (!inMemory_) return WholeSeconds(LastModified());
  return HundredYearsAhead();
}

void File::PrepareDownloadResponse(DownloadState& s, Response& response, const Variant& mimeType) {
  // Output the page buffered and never sent cannot come before the file: it
  // would go out inside the file's Content-Length and push the file's last
  // bytes out. It is dropped (output already sent is error 9014 later).
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
    // Caught by the content type check (CheckDownloadContentType).
  }
}

// The entity tag names this version: modification time and size for a disk
// file (the tag the host's static files carry), a digest of the bytes and
// their length for in-memory content.
std::string File::DownloadEntityTag() const {
  if (inMemory_) {
    Md5Digest digest;
    if (content_) digest.Update(*content_);
    std::string hex = AsciiLower(digest.FinalHex().substr(0, 16));
    return QuotedTag(hex, Hex(content_ ? content_->size() : 0));
  }
  PathInfo info = StatPathOrThrow(physicalPath_);
  return FileEntityTag(info.mtime, info.size);
}

// 304 when the client's copy is this version: If-None-Match naming the entity
// tag decides when present (If-Modified-Since is then not looked at);
// otherwise If-Modified-Since equal to the modification date to the second.
// In-memory content without a ModDate has no date a cached copy could carry:
// its invented date may repeat within a second, so it never matches by date.
bool File::AnswerNotModified(DownloadState& s, Request& request, Response& response, bool dateGiven) {
  std::string noneMatch = ServerText(request, "HTTP_IF_NONE_MATCH");
  bool same = false;
  if (!noneMatch.empty()) {
    Trace("File.Download - None Match Found: " + noneMatch);
    same = NoneMatchHits(noneMatch, s.entityTag);
  } else if (s.modifiedSinceValid) {
    bool inventedDate = inMemory_ && !dateGiven;
    same = !inventedDate && WholeSeconds(s.modifiedSince) == s.modDate;
  } else {
    return false;
  }
  if (!same) {
    Trace("File.Download - File Changed");
    return false;
  }
  Trace("File.Download - Returned 304 Not Modified");
  response.SetStatus("304 Not Modified");
  if (s.deleteFile) Delete();
  if (s.responseEnd) response.End();
  return true;
}

// Unless-Modified-Since or If-Range naming another version than this one
// cancel the range: the whole file is sent.
void File::KeepRangeIfUnchanged(DownloadState& s, Request& request) {
  if (s.partial && s.unlessSinceValid && WholeSeconds(s.unlessSince) != s.modDate) s.partial = false;
  if (!s.partial) return;
  std::string ifRange = ServerText(request, "HTTP_IF_RANGE");
  if (ifRange.empty()) return;
  if (!IfRangeHolds(ifRange, s.entityTag, ParseHttpTime(FormatHttpDate(s.modDate)))) s.partial = false;
}

void File::OpenDownloadSource(DownloadState& s) {
  if (!inMemory_) {
    s.file = PosixFile(physicalPath_, PosixFile::Mode::Read);
    s.total = s.file.Length();
  } else {
    s.total = content_ ? static_cast<int64_t>(content_->size()) : 0;
  }
}

// Ranges never reach outside the file: an end past the last byte is cut to
// it, a suffix longer than the file is the whole file, and a start at or past
// the end (or an end before the start) cannot be satisfied (416).
void File::ResolveDownloadRange(DownloadState& s) {
  if (!s.partial) {
    s.length = s.total;
    return;
  }
  s.resolved = ResolveByteRange(s.range, s.total);
  s.unsatisfiable = !s.resolved.satisfiable;
  s.length = s.resolved.Length();
  int64_t first = s.unsatisfiable ? s.range.first.value_or(-1) : s.resolved.first;
  int64_t last = s.unsatisfiable ? s.range.last.value_or(-1) : s.resolved.last;
  Trace("RangeStart=" + std::to_string(first) + ";RangeEnd=" + std::to_string(last) +
        ";lFileSize=" + std::to_string(s.length));
  if (s.unsatisfiable) return;
  if (!inMemory_) {
    s.file.Seek(s.resolved.first);
  } else {
    auto from = content_->begin() + static_cast<std::ptrdiff_t>(s.resolved.first);
    s.rangeBuffer.assign(from, from + static_cast<std::ptrdiff_t>(s.length));
  }
}

// The content type read back differs when the headers were already sent or
// the host refused the type: error 9014.
void File::CheckDownloadContentType(const DownloadState& s, Response& response) {
  if (response.ContentType() == s.contentType) return;
  Trace(kConflictText);
  throw ComponentError(component_error::ContentTypeConflict, kConflictText, "File");
}

void File::AddDownloadHeaders(DownloadState& s, Response& response) {
  response.AddHeader("Last-Modified", FormatHttpDate(s.modDate));
  response.AddHeader("Accept-Ranges", "bytes");
  response.AddHeader("Etag", s.entityTag);
  if (s.partial) {
    std::string value = ContentRangeValue(s.resolved, s.total);
    response.AddHeader("Content-Range", value);
    Trace(value);
  }
  response.AddHeader("Content-Length", std::to_string(s.length));
  if (s.unsatisfiable)
    response.SetStatus("416 Range Not Satisfiable");
  else if (s.partial)
    response.SetStatus("206 Partial Content");
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
  int64_t position = s.partial ? s.resolved.first : 0;
  bool transmitted = false;
  while (s.length > 0) {
    // Once the host sends the file's bytes itself, nothing is buffered, so it
    // takes many chunks per call: one system call per 15000 bytes would cost
    // more than the copy it saves. The client is still asked before each call.
    int64_t step = static_cast<int64_t>(transmitted ? kDownloadChunk * kChunksPerTransmit : kDownloadChunk);
    size_t chunk = static_cast<size_t>(std::min<int64_t>(s.length, step));
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
      chunk = std::min(chunk, kDownloadChunk);
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
