// The answer of `torvane serve` to a GET or HEAD of a static file, as a web
// server gives it: ETag (modification time and size), Last-Modified, Date,
// Accept-Ranges, 304 for If-None-Match / If-Modified-Since, 206 for one byte
// range (several ranges get the whole file), 416 outside the file, If-Range,
// and a charset on text types. The decision is basics/http_conditional.h,
// the one File.Download uses; this file opens the file and writes the head.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "basics/fdio.h"

namespace torvane::server {

// What the request says that matters to a static answer.
struct StaticRequest {
  std::string nativePath;   // the file on disk
  std::string virtualPath;  // its address (the extension picks the type)
  bool head = false;        // HEAD: the same head, no body
  unsigned version = 11;    // 10 or 11
  bool keepAlive = false;   // the connection stays open after the answer
  std::string charset;      // added to text types ("": none)
  std::string_view ifNoneMatch, ifModifiedSince, range, ifRange;
};

// A static answer ready to leave: the head (status line, headers, blank line)
// and the part of the open file that follows it. Small bodies are read into
// `head` already (one send for the whole answer); then `bodyLength` is 0.
struct StaticAnswer {
  int status = 0;           // 200, 206, 304, 416; 404 or 403 when the file cannot be opened
  std::string head;
  UniqueFd file;
  int64_t bodyOffset = 0;   // where the bytes still to send start in `file`
  int64_t bodyLength = 0;   // bytes of `file` to send after `head`
  int64_t bodyBytes = 0;    // body bytes of the answer (for the access log)
};

// Bodies up to this size travel inside the head's buffer.
constexpr int64_t kStaticInlineBody = 16384;

// Whether `type` is text that a charset applies to: text/*, JavaScript, JSON
// and XML types (application/xml, */*+xml, */*+json), without a charset yet.
bool IsCharsetType(std::string_view type);

// Opens the file (or takes over `opened`, the same file already open) and
// builds its answer. Status 404 (the file is gone) or 403 (it cannot be read)
// leaves `head` empty: the caller sends its error page.
StaticAnswer PrepareStaticAnswer(const StaticRequest& request, UniqueFd opened = UniqueFd());

}  // namespace torvane::server
