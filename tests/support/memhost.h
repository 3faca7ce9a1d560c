// The in-memory host of the unit tests: a request built from method, server
// variables, headers and body bytes; a recorded response; MapPath over a site
// root; an application store. MemHost::Scope makes it the current page of the
// calling thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/named_values.h"

namespace torvane::test {

class MemRequest : public Request {
 public:
  std::map<std::string, std::string> serverVariables;  // upper-case names
  std::vector<std::pair<std::string, std::string>> query, form;
  Bytes body;
  size_t readPos = 0;
  bool formRead = false;
  bool failBinaryRead = false;     // BinaryRead throws
  // BinaryRead throws once this many body bytes have been delivered (-1:
  // never), as a host does when the client resets or times out; with
  // failForeign it throws a C++ exception that is not an automation error.
  int64_t failAfterBytes = -1;
  bool failForeign = false;
  bool binaryReadNotBytes = false; // BinaryRead returns a string
  int64_t totalBytesOverride = -2; // -2: body size; -1 / other: that value
  bool failTotalBytes = false;
  std::vector<int64_t> readSizes;  // sizes asked of BinaryRead, in order
  int64_t bodyReadSize = 1024;     // what BodyReadSize answers

  Variant ServerVariables(std::string_view name) override;
  Variant QueryString(std::string_view name) override;
  Variant Form(std::string_view name) override;
  std::vector<std::string> QueryStringNames() override;
  std::vector<std::string> FormNames() override;
  int64_t TotalBytes() override;
  Variant BinaryRead(int64_t count) override;
  int64_t BodyReadSize() const override { return bodyReadSize; }
};

class MemResponse : public Response {
 public:
  std::string contentType = "text/html";
  std::string status = "200 OK";
  std::string cacheControl = "private";
  std::vector<std::pair<std::string, std::string>> headers;
  bool buffer = true;
  bool ended = false;
  bool headersSent = false;
  bool clientConnected = true;
  // Client goes away after this many IsClientConnected() calls (-1: never).
  int disconnectAfterChecks = -1;
  int connectedChecks = 0;
  Bytes body;
  std::vector<size_t> binaryWrites;  // size of each BinaryWrite
  // Sends file bytes itself, as the web host does with sendfile (off: the
  // caller reads and writes them); each call's (offset, length).
  bool transmitFiles = false;
  std::vector<std::pair<int64_t, int64_t>> transmits;

  std::string ContentType() override { return contentType; }
  void SetContentType(std::string_view t) override;
  std::string Status() override { return status; }
  void SetStatus(std::string_view s) override;
  void AddHeader(std::string_view n, std::string_view v) override;
  bool Buffer() override { return buffer; }
  void SetBuffer(bool on) override { buffer = on; }
  std::string CacheControl() override { return cacheControl; }
  void SetCacheControl(std::string_view v) override { cacheControl = std::string(v); }
  void Write(std::string_view text) override;
  void BinaryWrite(std::span<const uint8_t> bytes) override;
  bool IsClientConnected() override;
  bool TransmitFile(int fd, int64_t offset, int64_t length) override;
  void End() override { ended = true; }
  bool Ended() override { return ended; }
  void Flush() override { headersSent = true; }
  void Clear() override { body.clear(); }
  void Redirect(std::string_view url) override;
  bool HeadersSent() override { return headersSent; }
  // Everything written before the headers went out is still buffered.
  int64_t BufferedBytes() override { return headersSent ? 0 : static_cast<int64_t>(body.size()); }

  std::string BodyText() const { return std::string(body.begin(), body.end()); }
  std::string Header(std::string_view name) const;  // "" when absent
};

class MemServer : public Server {
 public:
  std::string siteRoot;        // Linux directory
  std::string pageDir = "/";   // virtual folder of the running page
  std::string MapPath(std::string_view path) override;
  std::string HTMLEncode(std::string_view text) override;
  std::string URLEncode(std::string_view text) override;
  // Where this host says pages run; unset: nowhere (the interface's default).
  std::function<bool(std::string_view physicalFolder)> pagesRunIn;
  bool PagesRunIn(std::string_view physicalFolder) override {
    return pagesRunIn ? pagesRunIn(physicalFolder) : Server::PagesRunIn(physicalFolder);
  }
};

// Keeps its values as every host does (NamedValues); unlike the web host's
// store it also holds objects, which tests hand to pages through it.
class MemApplication : public Application {
 public:
  NamedValues values;
  std::recursive_mutex mutex;
  int lockDepth = 0;
  Variant Value(std::string_view name) override;
  void SetValue(std::string_view name, Variant value) override;
  void Lock() override;
  void UnLock() override;
  std::vector<std::string> Names() override;
  void Remove(std::string_view name) override;
  void RemoveAll() override;
};

// One page's worth of host: build it, fill the request, enter a Scope.
class MemHost {
 public:
  explicit MemHost(std::string siteRoot = "/tmp");
  std::shared_ptr<MemRequest> request = std::make_shared<MemRequest>();
  std::shared_ptr<MemResponse> response = std::make_shared<MemResponse>();
  std::shared_ptr<MemServer> server = std::make_shared<MemServer>();
  std::shared_ptr<MemApplication> application;  // shareable between hosts
  std::shared_ptr<ObjectContext> context() const;

  // A multipart/form-data POST with the given body.
  void SetMultipart(const std::string& body, const std::string& boundary = "----TorvaneBoundary");
  void SetBody(const std::string& body);

  // Makes this host the calling thread's page and attaches the script context;
  // restores the previous page and clears the record on exit.
  class Scope {
   public:
    explicit Scope(MemHost& host);
    ~Scope();

   private:
    ObjectContextScope scope_;
  };
};

// A fresh temporary directory removed (recursively) at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Small file helpers for tests.
std::string ReadFile(const std::string& nativePath);
void WriteFile(const std::string& nativePath, std::string_view content);
bool FileExists(const std::string& nativePath);
// Lines of a trace log without their "HH:MM:SS - " prefix.
std::vector<std::string> TraceMessages(const std::string& nativePath);

}  // namespace torvane::test
