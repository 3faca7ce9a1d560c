#include "server/http_response.h"

#include <cctype>
#include <charconv>
#include <ctime>

#include "automation/error.h"
#include "automation/object.h"
#include "basics/escape.h"
#include "basics/http_date.h"

namespace torvane::server {

namespace {

// A header name or value must not carry CR, LF or NUL (they would split headers).
void CheckHeaderText(std::string_view s) {
  for (char c : s)
    if (c == '\r' || c == '\n' || c == '\0') ThrowPlatform(err::InvalidArgument);
}

std::string ToHex(size_t n) {
  char buf[32];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, n, 16);
  return std::string(buf, p);
}

}  // namespace

HttpResponse::HttpResponse(std::shared_ptr<ResponseSink> sink, ResponseOptions options)
    : sink_(std::move(sink)), options_(options), keepAlive_(options.keepAlive) {}

void HttpResponse::SetContentType(std::string_view type) {
  CheckHeaderText(type);
  if (!headersSent_) contentType_ = std::string(type);
}

void HttpResponse::SetStatus(std::string_view status) {
  CheckHeaderText(status);
  if (status.size() < 3 || !std::isdigit(static_cast<unsigned char>(status[0])) ||
      !std::isdigit(static_cast<unsigned char>(status[1])) || !std::isdigit(static_cast<unsigned char>(status[2])) ||
      status[0] == '0' || (status.size() > 3 && status[3] != ' '))
    ThrowPlatform(err::InvalidArgument);
  if (!headersSent_) status_ = std::string(status);
}

void HttpResponse::AddHeader(std::string_view name, std::string_view value) {
  CheckHeaderText(name);
  CheckHeaderText(value);
  if (name.empty() || name.find(':') != std::string_view::npos || name.find(' ') != std::string_view::npos)
    ThrowPlatform(err::InvalidArgument);
  if (!headersSent_) headers_.emplace_back(std::string(name), std::string(value));
}

void HttpResponse::SetCharset(std::string_view charset) {
  CheckHeaderText(charset);
  if (charset.find(';') != std::string_view::npos) ThrowPlatform(err::InvalidArgument);
  if (!headersSent_) charset_ = std::string(charset);
}

void HttpResponse::SetCookie(std::string_view name, std::string_view header) {
  CheckHeaderText(header);
  if (headersSent_) return;
  for (auto& [k, v] : cookies_) {
    if (k == name) {
      v = std::string(header);
      return;
    }
  }
  cookies_.emplace_back(std::string(name), std::string(header));
}

void HttpResponse::SetHeader(std::string_view name, std::string_view value) {
  CheckHeaderText(name);
  CheckHeaderText(value);
  if (headersSent_) return;
  for (auto& [k, v] : headers_) {
    if (EqualsNoCase(k, name)) {
      v = std::string(value);
      return;
    }
  }
  AddHeader(name, value);
}

void HttpResponse::SetCacheControl(std::string_view value) {
  CheckHeaderText(value);
  if (!headersSent_) cacheControl_ = std::string(value);
}

int HttpResponse::StatusCode() const {
  int code = 0;
  std::from_chars(status_.data(), status_.data() + std::min<size_t>(3, status_.size()), code);
  return code;
}

bool HttpResponse::BodyAllowed() const {
  int code = StatusCode();
  return !options_.headRequest && code != 204 && code != 304 && code >= 200;
}

bool HttpResponse::SinkSend(std::string_view data) {
  if (clientGone_) return false;
  if (!heldHeaders_.empty()) {
    std::string both = std::move(heldHeaders_);
    heldHeaders_.clear();
    both.append(data);
    if (!sink_->Send(both)) {
      clientGone_ = true;
      return false;
    }
    return true;
  }
  if (!sink_->Send(data)) {
    clientGone_ = true;
    return false;
  }
  return true;
}

void HttpResponse::SendHeaders(bool final) {
  if (headersSent_) return;
  headersSent_ = true;
  std::string h = "HTTP/1.1 " + status_ + "\r\n";
  h += "Date: " + FormatHttpTime(static_cast<int64_t>(::time(nullptr))) + "\r\n";
  h += "Server: Torvane\r\n";
  if (!contentType_.empty()) {
    h += "Content-Type: " + contentType_;
    if (!charset_.empty() && FoldCase(contentType_).find("charset=") == std::string::npos) h += "; charset=" + charset_;
    h += "\r\n";
  }
  if (!cacheControl_.empty()) h += "Cache-Control: " + cacheControl_ + "\r\n";
  for (const auto& [k, v] : headers_) {
    if (EqualsNoCase(k, "Content-Length")) {
      int64_t n = -1;
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec == std::errc() && p == v.data() + v.size() && n >= 0) declaredLength_ = n;
      continue;
    }
    if (EqualsNoCase(k, "Transfer-Encoding") || EqualsNoCase(k, "Connection")) continue;
    h += k + ": " + v + "\r\n";
  }
  for (const auto& c : cookies_) h += "Set-Cookie: " + c.second + "\r\n";
  if (keepAlive_ && options_.mayKeepAlive && !options_.mayKeepAlive()) keepAlive_ = false;
  int code = StatusCode();
  bool noBodyStatus = code == 204 || code == 304 || code < 200;
  if (noBodyStatus) {
    // No body and no length: the connection stays usable.
  } else if (final) {
    h += "Content-Length: " + std::to_string(pending_.size()) + "\r\n";
    declaredLength_ = -1;
  } else if (declaredLength_ >= 0) {
    h += "Content-Length: " + std::to_string(declaredLength_) + "\r\n";
  } else if (options_.chunkedAllowed && !options_.headRequest) {
    h += "Transfer-Encoding: chunked\r\n";
    chunked_ = true;
  } else if (!options_.headRequest) {
    keepAlive_ = false;  // the end of the body is the end of the connection
  }
  h += keepAlive_ ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  h += "\r\n";
  // Held back to leave with the first body bytes: one segment, not two.
  heldHeaders_ = std::move(h);
}

void HttpResponse::SendHeldHeaders() {
  if (heldHeaders_.empty()) return;
  std::string h = std::move(heldHeaders_);
  heldHeaders_.clear();
  SinkSend(h);
}

void HttpResponse::SendBody(std::string_view data) {
  if (data.empty() || !BodyAllowed()) return;
  if (declaredLength_ >= 0) {
    int64_t room = declaredLength_ - bodySent_;
    if (static_cast<int64_t>(data.size()) > room) {
      // More than the page announced: the rest cannot be framed, and the
      // connection cannot carry another response after it.
      keepAlive_ = false;
      data = data.substr(0, static_cast<size_t>(room < 0 ? 0 : room));
      if (data.empty()) return;
    }
  }
  if (chunked_) {
    std::string frame = ToHex(data.size()) + "\r\n";
    frame.append(data);
    frame += "\r\n";
    if (SinkSend(frame)) bodySent_ += static_cast<int64_t>(data.size());
  } else if (SinkSend(data)) {
    bodySent_ += static_cast<int64_t>(data.size());
  }
}

void HttpResponse::Emit(std::string_view data) {
  if (ended_ || finished_) return;
  Checkpoint();
  if (buffer_) {
    pending_.append(data);
    if (static_cast<int64_t>(pending_.size()) > options_.bufferLimit) Flush();
    return;
  }
  SendHeaders(false);
  if (!pending_.empty()) {
    SendBody(pending_);
    pending_.clear();
  }
  SendBody(data);
  SendHeldHeaders();
}

void HttpResponse::Write(std::string_view text) { Emit(text); }

void HttpResponse::BinaryWrite(std::span<const uint8_t> bytes) {
  Emit(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool HttpResponse::TransmitFile(int fd, int64_t offset, int64_t length) {
  // Only an unbuffered, plainly framed body can take the file's bytes as they
  // are; anything else goes through BinaryWrite.
  if (ended_ || finished_) return false;
  Checkpoint();
  if (buffer_ || !sink_->CanSendFile()) return false;
  SendHeaders(false);
  if (chunked_) return false;
  if (!pending_.empty()) {
    SendBody(pending_);
    pending_.clear();
  }
  if (!BodyAllowed()) {
    SendHeldHeaders();
    return true;
  }
  if (declaredLength_ >= 0 && length > declaredLength_ - bodySent_) return false;
  SendHeldHeaders();
  if (clientGone_) return true;
  if (!sink_->SendFile(fd, offset, length)) {
    clientGone_ = true;
    return true;
  }
  bodySent_ += length;
  return true;
}

bool HttpResponse::IsClientConnected() {
  Checkpoint();
  return !clientGone_ && sink_->Connected();
}

void HttpResponse::Flush() {
  if (finished_) return;
  Checkpoint();
  SendHeaders(false);
  SendBody(pending_);
  pending_.clear();
  SendHeldHeaders();
}

void HttpResponse::Redirect(std::string_view url) {
  CheckHeaderText(url);
  if (!headersSent_) {
    status_ = "302 Object moved";
    headers_.emplace_back("Location", std::string(url));
    std::string href = HtmlEncode(url);
    pending_ = "<head><title>Object moved</title></head>\n<body><h1>Object Moved</h1>This object may be found <a HREF=\"" +
               href + "\">here</a>.</body>\n";
  }
  ended_ = true;
}

void HttpResponse::FailWith(std::string_view htmlBody) {
  if (finished_) return;
  ended_ = true;
  if (!headersSent_) {
    status_ = "500 Internal Server Error";
    contentType_ = "text/html";
    headers_.clear();
    pending_.assign(htmlBody);
  } else {
    // The client already has a status that is not 500: the only way left to
    // tell it the answer failed is to end it unfinished.
    pending_.clear();
    aborted_ = true;
  }
}

void HttpResponse::Finish() {
  if (finished_) return;
  if (aborted_) {
    // Headers held back for the first body bytes have not left: nothing has,
    // so nothing is sent now either; the connection closes.
    heldHeaders_.clear();
    pending_.clear();
    finished_ = true;
    return;
  }
  if (!headersSent_) {
    SendHeaders(true);
    SendBody(pending_);
  } else {
    SendBody(pending_);
    if (chunked_) SinkSend("0\r\n\r\n");
    if (declaredLength_ >= 0 && bodySent_ != declaredLength_ && BodyAllowed()) keepAlive_ = false;
  }
  SendHeldHeaders();
  std::string().swap(pending_);  // a large buffer's memory goes back now
  finished_ = true;
  ended_ = true;
}

void HttpResponse::AppendToLog(std::string_view text) {
  std::string_view separator = logText_.empty() ? "" : ", ";
  if (text.empty() || logText_.size() + separator.size() >= kLogTextLimit) return;
  logText_ += separator;
  logText_.append(text.substr(0, kLogTextLimit - logText_.size()));
}

}  // namespace torvane::server
