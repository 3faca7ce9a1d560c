// HttpResponse: the Response host object of one page request (server and runner).
//
// Buffered by default: output collects in memory and leaves at the page's end
// with an exact Content-Length (or earlier, by Flush, or once it passes the
// buffer limit). With Buffer = false every write goes to the client at once:
// chunked, or raw up to the page's own Content-Length header when it added one,
// or delimited by closing the connection where chunking is not available (the
// runner, HTTP/1.0). Once the status line and headers are sent, status, content
// type, cache control and headers keep the values that were sent. Header
// names and values are checked: a CR or LF (header injection) fails with 5.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"

namespace torvane::server {

// Where response bytes go.
class ResponseSink {
 public:
  virtual ~ResponseSink() = default;
  // Sends bytes to the client; false when the client is gone.
  virtual bool Send(std::string_view data) = 0;
  // False once the client has closed its side.
  virtual bool Connected() = 0;
  // Whether SendFile works on this sink.
  virtual bool CanSendFile() { return false; }
  // Sends `length` bytes of `fd` from `offset` (sendfile); false when the client
  // is gone; 62 when the file ends too soon.
  virtual bool SendFile(int fd, int64_t offset, int64_t length) { return false; }
};

struct ResponseOptions {
  bool headRequest = false;      // send no body bytes
  bool keepAlive = true;         // the client can keep the connection
  bool chunkedAllowed = true;    // HTTP/1.1 server; false for the runner and HTTP/1.0
  int64_t bufferLimit = 4194304; // buffered output beyond this is sent early
  // Asked when the headers are built: false makes the answer close the
  // connection (a body left unread, a failed read, a server stopping).
  std::function<bool()> mayKeepAlive;
  // Run before every write and client check: throws once the page must stop
  // (its deadline, the server's stop), so a component fails at its next step.
  std::function<void()> checkpoint;
};

class HttpResponse : public Response {
 public:
  HttpResponse(std::shared_ptr<ResponseSink> sink, ResponseOptions options);

  std::string ContentType() override { return contentType_; }
  void SetContentType(std::string_view type) override;
  std::string Status() override { return status_; }
  void SetStatus(std::string_view status) override;
  void AddHeader(std::string_view name, std::string_view value) override;
  bool Buffer() override { return buffer_; }
  void SetBuffer(bool on) override { buffer_ = on; }
  std::string CacheControl() override { return cacheControl_; }
  void SetCacheControl(std::string_view value) override;
  void Write(std::string_view text) override;
  void BinaryWrite(std::span<const uint8_t> bytes) override;
  bool IsClientConnected() override;
  bool TransmitFile(int fd, int64_t offset, int64_t length) override;
  void End() override { ended_ = true; }
  bool Ended() override { return ended_; }
  void Flush() override;
  void Clear() override { pending_.clear(); }
  void Redirect(std::string_view url) override;
  bool HeadersSent() override { return headersSent_; }
  int64_t BufferedBytes() override { return static_cast<int64_t>(pending_.size()); }
  std::string Charset() override { return charset_; }
  void SetCharset(std::string_view charset) override;
  void SetCookie(std::string_view name, std::string_view header) override;
  void SetHeader(std::string_view name, std::string_view value) override;
  // Keeps the text for the access log: several calls are joined with ", ",
  // the whole held to kLogTextLimit bytes.
  void AppendToLog(std::string_view text) override;

  // Host side. Sends what is left and ends the body; called once at page end.
  void Finish();
  // Replaces the output with an error page (status 500) when the headers are
  // still unsent. Once output has begun, the response is cut instead: nothing
  // more is sent (no closing chunk, a body short of its length) and the
  // connection closes, so the client sees that the answer failed.
  void FailWith(std::string_view htmlBody);
  // True once FailWith cut a response that had begun.
  bool Aborted() const { return aborted_; }
  // Whether the connection can carry another request after Finish.
  bool KeepAlive() const { return keepAlive_ && !clientGone_ && !aborted_; }
  bool ClientGone() const { return clientGone_; }
  int StatusCode() const;
  int64_t BodyBytesSent() const { return bodySent_; }
  const std::string& LogText() const { return logText_; }
  static constexpr size_t kLogTextLimit = 1024;

 private:
  void Emit(std::string_view data);
  void SendHeaders(bool final);
  void SendBody(std::string_view data);
  bool SinkSend(std::string_view data);
  void SendHeldHeaders();
  bool BodyAllowed() const;
  void Checkpoint() const {
    if (options_.checkpoint) options_.checkpoint();
  }

  std::shared_ptr<ResponseSink> sink_;
  ResponseOptions options_;
  std::string status_ = "200 OK";
  std::string contentType_ = "text/html";
  std::string cacheControl_ = "private";
  std::vector<std::pair<std::string, std::string>> headers_;
  std::vector<std::pair<std::string, std::string>> cookies_;  // cookie name -> Set-Cookie value
  std::string charset_;
  std::string pending_;
  std::string heldHeaders_;  // status line and headers waiting for the first body bytes
  bool buffer_ = true;
  bool ended_ = false;
  bool headersSent_ = false;
  bool finished_ = false;
  bool chunked_ = false;
  bool clientGone_ = false;
  bool keepAlive_ = true;
  bool aborted_ = false;
  int64_t declaredLength_ = -1;  // the page's own Content-Length header when streaming
  int64_t bodySent_ = 0;
  std::string logText_;  // Response.AppendToLog text
};

}  // namespace torvane::server
