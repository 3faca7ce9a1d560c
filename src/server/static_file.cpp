#include "server/static_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "basics/ascii.h"
#include "basics/http_conditional.h"
#include "basics/http_date.h"
#include "server/site_path.h"

namespace torvane::server {

namespace {

const char* StatusLine(int status) {
  switch (status) {
    case 206: return " 206 Partial Content\r\n";
    case 304: return " 304 Not Modified\r\n";
    case 416: return " 416 Range Not Satisfiable\r\n";
    default: return " 200 OK\r\n";
  }
}

// The Date header's text, formatted once per second per thread.
const std::string& NowText() {
  thread_local int64_t second = -1;
  thread_local std::string text;
  int64_t now = static_cast<int64_t>(::time(nullptr));
  if (now != second) {
    text = FormatHttpTime(now);
    second = now;
  }
  return text;
}

void AddHeader(std::string& head, std::string_view name, std::string_view value) {
  head.append(name);
  head.append(": ");
  head.append(value);
  head.append("\r\n");
}

std::string ContentType(const StaticRequest& r) {
  std::string type = MimeTypeFor(r.virtualPath);
  if (!r.charset.empty() && IsCharsetType(type)) type += "; charset=" + r.charset;
  return type;
}

// The status line and headers of `answer` for a file of `size` bytes.
std::string BuildHead(const StaticRequest& r, int status, const ResolvedRange& range, int64_t size,
                      const std::string& tag, int64_t mtime, int64_t length) {
  std::string head;
  head.reserve(320);
  head.append(r.version == 10 ? "HTTP/1.0" : "HTTP/1.1");
  head.append(StatusLine(status));
  AddHeader(head, "Server", "Torvane");
  AddHeader(head, "Date", NowText());
  if (status != 304) {
    AddHeader(head, "Content-Type", ContentType(r));
    AddHeader(head, "Content-Length", std::to_string(length));
  }
  AddHeader(head, "Last-Modified", FormatHttpTime(mtime));
  AddHeader(head, "ETag", tag);
  if (status != 304) AddHeader(head, "Accept-Ranges", "bytes");
  if (status == 206 || status == 416) AddHeader(head, "Content-Range", ContentRangeValue(range, size));
  if (r.version == 10 && r.keepAlive) AddHeader(head, "Connection", "keep-alive");
  if (r.version != 10 && !r.keepAlive) AddHeader(head, "Connection", "close");
  head.append("\r\n");
  return head;
}

}  // namespace

bool IsCharsetType(std::string_view type) {
  std::string t = AsciiLower(TrimBlanks(type.substr(0, type.find(';'))));
  if (type.find(';') != std::string_view::npos && AsciiLower(type).find("charset=") != std::string::npos) return false;
  auto endsWith = [&](std::string_view tail) { return t.size() >= tail.size() && t.compare(t.size() - tail.size(), tail.size(), tail) == 0; };
  return t.rfind("text/", 0) == 0 || t == "application/javascript" || t == "application/json" ||
         t == "application/xml" || t == "application/x-javascript" || t == "application/ecmascript" ||
         endsWith("+xml") || endsWith("+json");
}

StaticAnswer PrepareStaticAnswer(const StaticRequest& r, UniqueFd opened) {
  StaticAnswer a;
  // O_NONBLOCK: a FIFO put in the file's place cannot stall the I/O thread
  // in open(); anything but a regular file is refused below.
  int fd = opened.get() >= 0 ? opened.Release() : ::open(r.nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  int openError = errno;
  a.file.Reset(fd);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    a.status = fd < 0 && (openError == ENOENT || openError == ENOTDIR) ? 404 : 403;
    a.file.Reset();
    return a;
  }
  int64_t size = static_cast<int64_t>(st.st_size);
  int64_t mtime = static_cast<int64_t>(st.st_mtime);
  std::string tag = FileEntityTag(mtime, size);
  FileAnswer decision = DecideFileAnswer({r.ifNoneMatch, r.ifModifiedSince, r.range, r.ifRange}, tag, mtime, size);
  a.status = decision.status;
  int64_t length = a.status == 200 ? size : decision.range.Length();
  a.head = BuildHead(r, a.status, decision.range, size, tag, mtime, length);
  if (r.head || length == 0) return a;
  a.bodyOffset = a.status == 206 ? decision.range.first : 0;
  a.bodyLength = length;
  a.bodyBytes = length;
  if (length <= kStaticInlineBody) {
    size_t at = a.head.size();
    a.head.resize(at + static_cast<size_t>(length));
    ssize_t got = PreadFull(a.file.get(), a.head.data() + at, static_cast<size_t>(length), a.bodyOffset);
    if (got == length) {
      a.bodyLength = 0;
    } else {
      a.head.resize(at);  // the file changed under us: the sender finds out and ends the connection
    }
  }
  return a;
}

}  // namespace torvane::server
