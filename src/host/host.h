// The host objects as the component sees them.
//
// These abstract interfaces hold exactly the operations the component and the
// pages use. Three hosts implement them: the in-memory host of the tests
// (tests/support), the one-shot runner and the web server (src/server).
// A host sets the thread's current object context for the duration of one page
// (ObjectContextScope); GetObjectContext() outside a page fails with 91.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/object.h"

namespace torvane {

class Request {
 public:
  virtual ~Request() = default;
  // A server variable (CONTENT_TYPE, HTTP_RANGE, ...): its text, or Empty when the
  // request has none.
  virtual Variant ServerVariables(std::string_view name) = 0;
  // One query-string or url-encoded form value (repeated names joined with ", "),
  // Empty when absent. Reading Form consumes the body: BinaryRead then fails.
  virtual Variant QueryString(std::string_view name) = 0;
  virtual Variant Form(std::string_view name) = 0;
  // All names of the query string / form, in order (for enumeration by pages).
  virtual std::vector<std::string> QueryStringNames() = 0;
  virtual std::vector<std::string> FormNames() = 0;
  // Every value of a query-string / form name, in order (none when absent).
  // A host that keeps only the joined value gives that as the one value.
  virtual std::vector<std::string> QueryStringValues(std::string_view name) { return ValuesOf(QueryString(name)); }
  virtual std::vector<std::string> FormValues(std::string_view name) { return ValuesOf(Form(name)); }
  // The url-encoded form as text (Request.Form read without a name). Reading
  // it consumes the body like Form. A host that keeps the body's own text
  // gives it; the default joins the names and values, url-encoded
  // (host_rules.cpp).
  virtual std::string RawForm();
  // The body length in bytes (Content-Length).
  virtual int64_t TotalBytes() = 0;
  // The next `count` bytes of the body (fewer at its end), as a Bytes variant.
  // Each body byte is delivered once. Fails after Form has been read.
  virtual Variant BinaryRead(int64_t count) = 0;
  // The largest BinaryRead the upload parser makes at once (at least 1024, its
  // own chunk). A host whose every read costs checks of its own (the page's
  // clock, the client) hands over more at a time; the classic host gives 1024.
  virtual int64_t BodyReadSize() const { return 1024; }

 private:
  static std::vector<std::string> ValuesOf(const Variant& v) {
    if (v.isEmpty() || v.isNull()) return {};
    return {v.toString()};
  }
};

class Response {
 public:
  virtual ~Response() = default;
  virtual std::string ContentType() = 0;
  // Ignored once output has begun (the header is already sent).
  virtual void SetContentType(std::string_view type) = 0;
  virtual std::string Status() = 0;            // "200 OK"
  virtual void SetStatus(std::string_view status) = 0;
  virtual void AddHeader(std::string_view name, std::string_view value) = 0;
  virtual bool Buffer() = 0;
  virtual void SetBuffer(bool on) = 0;
  virtual std::string CacheControl() = 0;
  virtual void SetCacheControl(std::string_view value) = 0;
  virtual void Write(std::string_view text) = 0;
  virtual void BinaryWrite(std::span<const uint8_t> bytes) = 0;
  virtual bool IsClientConnected() = 0;
  // Ends the response: what is buffered is sent and the page stops at its next
  // statement (the page engine checks Ended() after every call).
  virtual void End() = 0;
  virtual bool Ended() = 0;
  virtual void Flush() = 0;
  virtual void Clear() = 0;
  virtual void Redirect(std::string_view url) = 0;
  // True once the status line and headers have gone to the client.
  virtual bool HeadersSent() = 0;
  // Bytes the page has written that are held in the buffer, not yet sent
  // (what Clear would drop).
  virtual int64_t BufferedBytes() { return 0; }
  // Sends `length` bytes of the open file `fd`, from byte `offset`, as body
  // bytes exactly as BinaryWrite of those bytes would, without copying them
  // through the page. False when this host cannot do it for this response
  // (nothing was sent: the caller reads and writes the bytes itself). A file
  // that ends before `length` bytes fails with 62 "Input past end of file".
  virtual bool TransmitFile(int fd, int64_t offset, int64_t length) { return false; }
  // The character set added to the Content-Type header ("" for none).
  virtual std::string Charset() { return charset_; }
  virtual void SetCharset(std::string_view charset) { charset_ = std::string(charset); }
  // Sets the Set-Cookie header of cookie `name`, replacing an earlier one of
  // the same name (a host without that keeps every header it was given).
  virtual void SetCookie(std::string_view /*name*/, std::string_view header) { AddHeader("Set-Cookie", header); }
  // Sets header `name`, replacing an earlier one of the same name.
  virtual void SetHeader(std::string_view name, std::string_view value) { AddHeader(name, value); }
  // Text the page adds to this request's line in the server's log.
  virtual void AppendToLog(std::string_view /*text*/) {}

 private:
  std::string charset_;
};

class Server {
 public:
  virtual ~Server() = default;
  // The DOS-form physical path of a virtual path (relative paths are taken from
  // the current page's folder). Paths that would leave the site root fail.
  virtual std::string MapPath(std::string_view path) = 0;
  // Server.CreateObject, the same on every host: the object by ProgID (429
  // when unknown; defined beside the ProgID table in classes.cpp, the layer
  // that knows the classes), then StartObject.
  ObjectRef CreateObject(std::string_view progid);
  // The rule every host follows for a new object (host_rules.cpp): its
  // OnStartPage runs when its class has one, so it attaches the page's host
  // objects. Returns `obj`.
  ObjectRef StartObject(ObjectRef obj);
  virtual std::string HTMLEncode(std::string_view text) = 0;
  virtual std::string URLEncode(std::string_view text) = 0;
  // True when this host runs pages (or includes files) from the physical
  // (DOS-form) folder `physicalFolder`, so that a page file stored there could
  // be run by a request. A host that does not say (an embedding host) answers
  // false, and nothing that asks changes its behaviour there.
  virtual bool PagesRunIn(std::string_view /*physicalFolder*/) { return false; }
};

class Application {
 public:
  virtual ~Application() = default;
  // Names ignore letter case and keep the spelling first written, which
  // Names() lists (host/named_values.h keeps values so). A name never
  // written reads as Empty.
  virtual Variant Value(std::string_view name) = 0;
  virtual void SetValue(std::string_view name, Variant value) = 0;
  // A real cross-thread lock held by the calling page; released by UnLock or by
  // the end of the page.
  virtual void Lock() = 0;
  virtual void UnLock() = 0;
  virtual std::vector<std::string> Names() = 0;
  // Removes one value / every value (a host without removal empties them).
  virtual void Remove(std::string_view name) { SetValue(name, Variant()); }
  virtual void RemoveAll() {
    for (const auto& n : Names()) Remove(n);
  }
  // Reserves the next number of a numbered pool in one step that no other
  // page can interleave: stores `poolSize` (32-bit) under poolSizeName, reads
  // the counter under counterName (1 when it holds nothing or a number above
  // poolSize), stores that number plus 1 there and returns the number. This
  // default does it under Lock; a host whose store is shared by processes does
  // it atomically in the store. The counter must hold a number (else 13).
  virtual int64_t ReserveSlot(std::string_view poolSizeName, int32_t poolSize, std::string_view counterName);
};

// The object context of one page: the four host objects.
struct ObjectContext {
  std::shared_ptr<Request> request;
  std::shared_ptr<Response> response;
  std::shared_ptr<Server> server;
  std::shared_ptr<Application> application;
};

// The current thread's object context; 91 when no page runs on this thread.
std::shared_ptr<ObjectContext> GetObjectContext();

// Sets the thread's object context for one page and restores the previous one.
class ObjectContextScope {
 public:
  explicit ObjectContextScope(std::shared_ptr<ObjectContext> ctx);
  ~ObjectContextScope();
  ObjectContextScope(const ObjectContextScope&) = delete;
  ObjectContextScope& operator=(const ObjectContextScope&) = delete;

 private:
  std::shared_ptr<ObjectContext> previous_;
};

}  // namespace torvane
