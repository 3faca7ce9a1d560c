// HttpRequest: the Request host object of one page request (server and runner).
//
// Server variables use the CGI names (REQUEST_METHOD, QUERY_STRING, PATH_INFO,
// SCRIPT_NAME, CONTENT_TYPE, CONTENT_LENGTH, REMOTE_ADDR, SERVER_NAME, ...) and
// HTTP_<NAME> for every request header (upper case, "-" as "_", repeated headers
// joined with ", "). The body comes through a BodyReader. Reading Form consumes
// the body (an application/x-www-form-urlencoded body is parsed, any other is
// dropped unread); BinaryRead then fails, and Form fails after BinaryRead, so a
// page never sees half a body in either.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "server/body_reader.h"

namespace torvane::server {

struct RequestInfo {
  std::string method = "GET";
  std::string path = "/";          // decoded virtual path of the page
  std::string query;               // raw query string (after "?")
  std::string protocol = "HTTP/1.1";
  std::vector<std::pair<std::string, std::string>> headers;  // as received
  std::string remoteAddr = "127.0.0.1";
  int remotePort = 0;
  std::string localAddr = "127.0.0.1";
  std::string serverName = "localhost";
  int serverPort = 80;
  std::string pathTranslated;      // DOS-form physical path of the page
  std::string siteRootDos;         // DOS-form physical site root
  bool https = false;              // came over HTTPS (as a trusted proxy said)
};

// Behind a proxy listed in `trusted` (the connection's peer is one of them):
// REMOTE_ADDR becomes the client X-Forwarded-For names (the rightmost address
// that is not itself a trusted proxy) and `https` follows X-Forwarded-Proto.
// From any other peer both headers are ignored.
void ApplyForwarded(RequestInfo& info, const std::vector<std::string>& trusted);

// Splits "a=1&b=x+y%21" into decoded pairs ("+" is a space).
std::vector<std::pair<std::string, std::string>> ParseUrlEncoded(std::string_view text);
// Decodes %XX escapes (and "+" when plusIsSpace); invalid escapes stay as they are.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

class HttpRequest : public Request {
 public:
  HttpRequest(RequestInfo info, std::shared_ptr<BodyReader> body, int64_t maxFormBytes);

  Variant ServerVariables(std::string_view name) override;
  Variant QueryString(std::string_view name) override;
  Variant Form(std::string_view name) override;
  std::vector<std::string> QueryStringNames() override;
  std::vector<std::string> FormNames() override;
  std::vector<std::string> QueryStringValues(std::string_view name) override;
  std::vector<std::string> FormValues(std::string_view name) override;
  int64_t TotalBytes() override;
  Variant BinaryRead(int64_t count) override;
  // The body buffer's size (BodyReader::kBufferBytes, so such a read goes
  // straight from the socket into the page's bytes), never past the page's
  // memory limit.
  int64_t BodyReadSize() const override;

  const RequestInfo& info() const { return info_; }
  // The header's value (repeated headers joined with ", "); "" when absent.
  std::string Header(std::string_view name) const;
  // The raw form text: the url-encoded body, read as Form reads it.
  std::string RawForm() override;
  // Run before every body read: throws once the page must stop.
  void SetCheckpoint(std::function<void()> checkpoint) { checkpoint_ = std::move(checkpoint); }
  // The most one BinaryRead may return (the page's memory limit; 0: none).
  void SetReadLimit(int64_t bytes) { readLimit_ = bytes; }

 private:
  void LoadForm();

  RequestInfo info_;
  std::shared_ptr<BodyReader> body_;
  int64_t maxFormBytes_;
  std::vector<std::pair<std::string, std::string>> query_, form_;
  std::string rawForm_;
  bool formRead_ = false;
  bool binaryRead_ = false;
  std::function<void()> checkpoint_;
  int64_t readLimit_ = 0;
};

}  // namespace torvane::server
