#include "server/http_server.h"

#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "basics/ascii.h"
#include "automation/error.h"
#include "automation/object.h"
#include "basics/http_date.h"
#include "platform/paths.h"
#include "server/page_clock.h"
#include "server/error_page.h"
#include "server/page_folders.h"
#include "server/request_log.h"
#include "server/request_head.h"
#include "server/site_path.h"
#include "server/static_file.h"
#include "server/transfer_clock.h"
#include "server/worker_channel.h"
#include "server/worker_pool.h"

namespace torvane::server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr int64_t kDrainLimit = 262144;
// A static file's bytes sent in one go before other connections get a turn.
constexpr int64_t kStaticTurn = 4 << 20;   // unread body bytes read and dropped to keep a connection
// Lingering close (as nginx does): after the last answer, what the client
// still sends is read and dropped for up to 30 s, or until it is silent for 5 s.
constexpr std::chrono::seconds kLingerTime{30};
constexpr std::chrono::seconds kLingerQuiet{5};
// After the grace period, pages still running get this long to reach a
// checkpoint and clean up before the process ends.
constexpr std::chrono::seconds kStopWait{10};

using SteadyClock = std::chrono::steady_clock;

TransferLimits ReadLimits(const HostConfig& c) {
  return TransferLimits{c.readTimeout, c.minReadRate, c.rateWindow, c.readDeadline};
}

TransferLimits WriteLimits(const HostConfig& c) {
  return TransferLimits{c.writeTimeout, c.minWriteRate, c.rateWindow, c.writeDeadline};
}

// The server's messages: one line each on standard error (the log file).
void Log(const std::string& line) { std::fprintf(stderr, "torvane: %s\n", line.c_str()); }

std::string LowerAscii(std::string_view s) { return AsciiLower(s); }

}  // namespace

class HttpConnection;

struct HttpServer::Impl {
  // The settings; a reload swaps them whole, and each request takes the
  // current ones when its headers are read.
  mutable std::mutex configMutex;
  std::shared_ptr<const HostConfig> config;
  std::shared_ptr<Site> site;
  net::io_context ioc;
  tcp::acceptor acceptor{ioc};
  std::unique_ptr<WorkerPool> workers;
  std::vector<std::thread> ioThreads;
  std::atomic<bool> stopping{false};
  std::atomic<bool> draining{false};
  std::shared_ptr<ServerStop> stop = std::make_shared<ServerStop>();
  std::atomic<int> busy{0};  // requests between their headers and the end of their answer
  std::mutex connectionsMutex;
  std::unordered_map<HttpConnection*, std::weak_ptr<HttpConnection>> connections;

  LogSink accessLog;
  std::shared_ptr<const std::string> errorTemplate;  // under configMutex

  std::shared_ptr<const HostConfig> Config() const {
    std::lock_guard g(configMutex);
    return config;
  }
  std::shared_ptr<const std::string> ErrorTemplate() const {
    std::lock_guard g(configMutex);
    return errorTemplate;
  }
  // Opens the access log and reads the error page template `settings` names;
  // throws std::runtime_error when either cannot be used.
  void OpenLogs(const HostConfig& settings) {
    auto templ = std::make_shared<const std::string>(
        settings.errorTemplate.empty() ? BuiltInErrorTemplate() : LoadErrorTemplate(settings.errorTemplate));
    accessLog.Open(settings.accessLog);
    std::lock_guard g(configMutex);
    errorTemplate = std::move(templ);
  }
  void Accept();
  void CloseIdleConnections();
};

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket socket, HttpServer::Impl& server)
      : stream_(std::move(socket)),
        server_(server),
        cfg_(server.Config()),
        buffer_(static_cast<size_t>(cfg_->maxHeaderBytes) + 65536) {}

  ~HttpConnection() {
    SetBusy(false);
    std::lock_guard g(server_.connectionsMutex);
    server_.connections.erase(this);
  }

  void Start() {
    {
      std::lock_guard g(server_.connectionsMutex);
      server_.connections.emplace(this, weak_from_this());
    }
    // Small answers leave at once instead of waiting for the client's ACK.
    beast::error_code ec;
    stream_.socket().set_option(tcp::no_delay(true), ec);
    auto remote = stream_.socket().remote_endpoint(ec);
    if (!ec) {
      remoteAddr_ = remote.address().to_string();
      remotePort_ = remote.port();
      peer_ = remoteAddr_ + ":" + std::to_string(remotePort_);
    }
    auto local = stream_.socket().local_endpoint(ec);
    if (!ec) {
      localAddr_ = local.address().to_string();
      localPort_ = local.port();
      protocol_ = local.protocol();
    }
    ReadHeader();
  }

  // The server is draining: a connection waiting for a new request with no
  // byte of it received is closed now (on the connection's strand).
  void CloseIfIdle() {
    if (!waitingHeader_ || buffer_.size() > 0) return;
    beast::error_code ec;
    stream_.socket().cancel(ec);
  }

  net::any_io_executor Executor() { return stream_.get_executor(); }

 private:
  // ---- I/O thread: headers, static files, error answers ------------------------------

  void SetBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    server_.busy += busy ? 1 : -1;
  }

  void ReadHeader() {
    SetBusy(false);
    // A draining server takes no new request; the last answer said so.
    if (server_.draining) return LingeringClose();
    cfg_ = server_.Config();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(cfg_->maxHeaderBytes));
    // The body is read later, by the page or the drain, never through this
    // parser: its own body limit (1 MiB by default) would refuse every larger
    // Content-Length as a malformed request. max_request_bytes is checked in
    // OnHeader. (Not boost::none: Boost 1.74 compares a length with an empty
    // limit as "greater", so every body would be refused.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_->eager(false);
    stream_.expires_after(std::chrono::seconds(first_ ? cfg_->headerTimeout : cfg_->keepAliveTimeout));
    first_ = false;
    waitingHeader_ = true;
    http::async_read_header(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpConnection::OnHeader, shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    waitingHeader_ = false;
    startWall_ = std::chrono::system_clock::now();
    startSteady_ = SteadyClock::now();
    if (ec) {
      // A timeout (headers too slow, or an idle keep-alive connection) has
      // closed the socket already: nothing can be answered.
      if (ec == beast::error::timeout) return Close();
      if (ec == http::error::end_of_stream || ec == net::error::connection_reset || ec == net::error::eof ||
          ec == net::error::operation_aborted)
        return Close();
      if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return SendError(http::status::request_header_fields_too_large, "The request headers are too large.\n");
      return SendError(http::status::bad_request, "Malformed HTTP request.\n");
    }
    stream_.expires_never();
    SetBusy(true);
    auto& req = parser_->get();
    version_ = req.version();
    keepAlive_ = req.keep_alive();
    if (version_ != 10 && version_ != 11) return SendError(http::status::http_version_not_supported, "HTTP version not supported.\n");
    if (int status = FramingStatus(req))
      return status == 501 ? SendError(http::status::not_implemented, "The request's transfer coding is not supported.\n")
                           : SendError(http::status::bad_request, "The request's Transfer-Encoding leaves its length unknown.\n");
    std::string_view target(req.target().data(), req.target().size());
    size_t q = target.find('?');
    std::string_view rawPath = target.substr(0, q);
    query_ = q == std::string_view::npos ? "" : std::string(target.substr(q + 1));
    if (rawPath.rfind("http://", 0) == 0 || rawPath.rfind("https://", 0) == 0) {
      size_t slash = rawPath.find('/', rawPath.find("//") + 2);
      rawPath = slash == std::string_view::npos ? std::string_view("/") : rawPath.substr(slash);
    }
    if (!DecodeRequestPath(rawPath, path_)) return SendError(http::status::bad_request, "Bad request path.\n");
    bool chunked = parser_->chunked();
    auto length = parser_->content_length();
    contentLength_ = length ? static_cast<int64_t>(*length) : 0;
    hasBody_ = chunked || contentLength_ > 0;
    if (contentLength_ > cfg_->maxRequestBytes)
      return SendError(http::status::payload_too_large,
                       "The request body is larger than " + std::to_string(cfg_->maxRequestBytes) + " bytes.\n");
    Target t = ResolveTarget(server_.site->root, path_);
    switch (t.kind) {
      case TargetKind::NotFound: return SendError(http::status::not_found, "There is no page or file at this address.\n", !hasBody_);
      case TargetKind::RedirectToFolder: {
        std::string location = t.virtualPath + (query_.empty() ? "" : "?" + query_);
        return SendError(http::status::moved_permanently, "Moved to " + location + "\n", !hasBody_, location);
      }
      case TargetKind::File:
        if (req.method() != http::verb::get && req.method() != http::verb::head)
          return SendError(http::status::method_not_allowed, "Method not allowed.\n", false, "", "GET, HEAD");
        return ServeFile(t);
      case TargetKind::Page:
        if (!PageMayRun(server_.site->root, server_.site->noPages, t.virtualPath, t.nativePath))
          return SendError(http::status::not_found, "There is no page or file at this address.\n", !hasBody_);
        if (chunked) return SendError(http::status::length_required, "A request body needs a Content-Length.\n");
        return QueuePage(t);
    }
  }

  // Writes the request's access-log line and, with `error`, its error line
  // to the server's log. Any thread; the parser still holds the request.
  void LogRequest(int status, int64_t bytes, std::string_view error, std::string_view appended = "") {
    bool access = server_.accessLog.Enabled();
    if (!access && error.empty()) return;
    LoggedRequest r;
    r.client = peer_.substr(0, peer_.rfind(':'));
    r.start = startWall_;
    r.status = status;
    r.bytes = bytes;
    r.seconds = std::chrono::duration<double>(SteadyClock::now() - startSteady_).count();
    r.appended = std::string(appended);
    if (parser_ && parser_->is_header_done()) {
      auto& req = parser_->get();
      r.method = std::string(req.method_string());
      r.target = std::string(req.target());
      r.protocol = version_ == 10 ? "HTTP/1.0" : "HTTP/1.1";
      if (auto f = req.find(http::field::referer); f != req.end()) r.referer = std::string(f->value());
      if (auto f = req.find(http::field::user_agent); f != req.end()) r.userAgent = std::string(f->value());
    }
    if (access) server_.accessLog.Write(AccessLogLine(r));
    if (!error.empty()) std::fprintf(stderr, "%s\n", ErrorLogLine(r, error).c_str());
  }

  // Answers with the host's page (a short text for a redirect) and closes, or
  // keeps the connection when allowed.
  void SendError(http::status status, std::string body, bool mayKeep = false, std::string location = "",
                 std::string allow = "") {
    auto res = std::make_shared<http::response<http::string_body>>(status, version_ == 10 ? 10 : 11);
    res->set(http::field::server, "Torvane");
    int code = static_cast<int>(status);
    if (code >= 400) {
      std::string message = std::move(body);
      while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
      auto templ = server_.ErrorTemplate();
      body = RenderErrorPage(templ ? *templ : BuiltInErrorTemplate(), code, std::string(http::obsolete_reason(status)), message);
      LogRequest(code, static_cast<int64_t>(body.size()), message);
      res->set(http::field::content_type, "text/html; charset=utf-8");
    } else {
      LogRequest(code, static_cast<int64_t>(body.size()), "");
      res->set(http::field::content_type, "text/plain; charset=utf-8");
    }
    if (!location.empty()) res->set(http::field::location, location);
    if (!allow.empty()) res->set(http::field::allow, allow);
    bool keep = mayKeep && keepAlive_ && !server_.draining;
    res->keep_alive(keep);
    res->body() = std::move(body);
    res->prepare_payload();
    stream_.expires_after(std::chrono::seconds(cfg_->writeTimeout));
    auto self = shared_from_this();
    http::async_write(stream_, *res, [self, res, keep](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      if (keep) return self->ReadHeader();
      self->LingeringClose();
    });
  }

  // Stops sending, then reads and drops what the client still sends (for up
  // to kLingerTime, until it is quiet for kLingerQuiet), so that unread body
  // bytes do not turn the answer into a reset: the client sees the answer.
  void LingeringClose() {
    SetBusy(false);
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    lingerUntil_ = SteadyClock::now() + kLingerTime;
    ReadAndDrop();
  }

  void ReadAndDrop() {
    auto now = SteadyClock::now();
    if (now >= lingerUntil_) return Close();
    stream_.expires_after(std::min<SteadyClock::duration>(kLingerQuiet, lingerUntil_ - now));
    auto self = shared_from_this();
    stream_.async_read_some(net::buffer(drop_), [self](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      self->ReadAndDrop();
    });
  }

  void Close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
  }

  // A static file: its answer (conditional, ranged) is built by
  // PrepareStaticAnswer; the head, and a small body with it, leave in one
  // send, a larger body by sendfile(2) from the open file.
  void ServeFile(const Target& t) {
    auto& req = parser_->get();
    auto field = [&req](http::field f) {
      auto it = req.find(f);
      return it == req.end() ? std::string_view() : std::string_view(it->value().data(), it->value().size());
    };
    StaticRequest r;
    r.nativePath = t.nativePath;
    r.virtualPath = t.virtualPath;
    r.head = req.method() == http::verb::head;
    r.version = version_;
    r.keepAlive = keepAlive_ && !hasBody_ && !server_.draining;
    r.charset = cfg_->staticCharset;
    r.ifNoneMatch = field(http::field::if_none_match);
    r.ifModifiedSince = field(http::field::if_modified_since);
    r.range = field(http::field::range);
    r.ifRange = field(http::field::if_range);
    static_ = PrepareStaticAnswer(r, t.file ? std::move(*t.file) : UniqueFd());
    if (static_.status == 404) return SendError(http::status::not_found, "There is no page or file at this address.\n", !hasBody_);
    if (static_.status == 403) return SendError(http::status::forbidden, "The file cannot be read.\n", !hasBody_);
    keepAfterFile_ = r.keepAlive;
    headSent_ = 0;
    staticClock_ = TransferClock(WriteLimits(*cfg_), SteadyClock::now());
    stream_.expires_never();
    SendStaticSome();
  }

  // Sends what is left of the static answer without blocking, at most
  // kStaticTurn bytes before other connections of this I/O thread get a turn;
  // waits for the socket when it is full.
  void SendStaticSome() {
    int64_t turn = 0;
    while (headSent_ < static_.head.size()) {
      bool more = static_.bodyLength > 0;
      ssize_t n = ::send(Fd(), static_.head.data() + headSent_, static_.head.size() - headSent_,
                         MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0));
      if (n > 0) {
        headSent_ += static_cast<size_t>(n);
        staticClock_.Moved(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return AwaitStaticWritable();
      return EndStatic(false);
    }
    // Corked while the body leaves by sendfile, as for a page's download.
    if (static_.bodyLength > 0) staticCork_.Set(Fd());
    while (static_.bodyLength > 0) {
      if (turn >= kStaticTurn) {
        auto self = shared_from_this();
        return net::post(stream_.get_executor(), [self] { self->SendStaticSome(); });
      }
      off_t off = static_cast<off_t>(static_.bodyOffset);
      ssize_t n = ::sendfile(Fd(), static_.file.get(), &off, static_cast<size_t>(std::min(static_.bodyLength, kStaticTurn - turn)));
      if (n > 0) {
        static_.bodyOffset += n;
        static_.bodyLength -= n;
        turn += n;
        staticClock_.Moved(n);
        continue;
      }
      if (n == 0) {
        // The file got shorter than the length announced: the answer cannot
        // be completed, so the connection ends (the client sees it cut).
        Log("static file " + path_ + " shrank while it was sent");
        return EndStatic(false);
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return AwaitStaticWritable();
      return EndStatic(false);
    }
    EndStatic(true);
  }

  // Waits until the socket takes more, held to the write limits.
  void AwaitStaticWritable() {
    auto start = SteadyClock::now();
    uint64_t wait = ++staticWait_;
    staticTimer_.expires_after(staticClock_.NextWait(start));
    auto self = shared_from_this();
    staticTimer_.async_wait([self, wait](beast::error_code ec) {
      if (ec || wait != self->staticWait_) return;
      self->staticTimedOut_ = true;
      beast::error_code ignored;
      self->stream_.socket().cancel(ignored);
    });
    staticTimedOut_ = false;
    stream_.socket().async_wait(tcp::socket::wait_write, [self, start](beast::error_code ec) {
      ++self->staticWait_;
      self->staticTimer_.cancel();
      auto now = SteadyClock::now();
      bool timedOut = self->staticTimedOut_;
      if (ec && !timedOut) return self->EndStatic(false);
      TransferVerdict verdict = self->staticClock_.AfterWait(now - start, timedOut, now);
      if (verdict != TransferVerdict::Ok) {
        self->LogCut(self->staticClock_.DescribeWrite(verdict));
        return self->EndStatic(false);
      }
      self->SendStaticSome();
    });
  }

  // The static answer is over: complete (the connection carries on as the
  // answer said) or cut (the connection closes).
  void EndStatic(bool complete) {
    staticCork_.Lift(Fd());
    int64_t sent = complete ? static_.bodyBytes : 0;
    int status = static_.status;
    static_ = StaticAnswer{};
    LogRequest(status, sent, "");
    if (!complete) return Close();
    AfterResponse({}, keepAfterFile_);
  }

  void AfterResponse(beast::error_code ec, bool keep) {
    if (ec) return Close();
    if (keep) return ReadHeader();
    LingeringClose();
  }

  void QueuePage(const Target& t) {
    auto self = shared_from_this();
    Target target = t;
    bool queued = server_.workers->Submit([self, target] { self->RunPageJob(target); });
    if (!queued) SendError(http::status::service_unavailable, "The server is busy; try again.\n");
  }

  // The status for a request whose Transfer-Encoding leaves its framing
  // unsound (400, or 501 for an unknown coding); 0 when it is sound.
  int FramingStatus(const http::request_parser<http::empty_body>::value_type& req) {
    std::string codings;
    bool present = false;
    for (const auto& f : req) {
      if (f.name() != http::field::transfer_encoding) continue;
      if (present) codings += ',';
      codings.append(f.value().data(), f.value().size());
      present = true;
    }
    return TransferEncodingStatus(present, codings, version_);
  }

  void LogCut(const std::string& why) { Log("client " + peer_ + " cut: " + why); }

  // After a page: drops the body it left unread (at most kDrainLimit bytes,
  // what the answer's keep-alive allowed), held to the read limits, then
  // reads the next request. On the I/O thread: no page thread waits for it.
  void DrainThenReadHeader(int64_t unread) {
    size_t fromBuffer = static_cast<size_t>(std::min<int64_t>(unread, static_cast<int64_t>(buffer_.size())));
    buffer_.consume(fromBuffer);
    drainLeft_ = unread - static_cast<int64_t>(fromBuffer);
    if (drainLeft_ <= 0) return ReadHeader();
    drainClock_ = TransferClock(ReadLimits(*cfg_), SteadyClock::now());
    DrainSome();
  }

  void DrainSome() {
    auto start = SteadyClock::now();
    stream_.expires_after(drainClock_.NextWait(start));
    size_t ask = static_cast<size_t>(std::min<int64_t>(drainLeft_, static_cast<int64_t>(drop_.size())));
    auto self = shared_from_this();
    stream_.async_read_some(net::buffer(drop_.data(), ask), [self, start](beast::error_code ec, std::size_t n) {
      auto now = SteadyClock::now();
      TransferVerdict verdict = TransferVerdict::Ok;
      if (ec == beast::error::timeout) {
        verdict = self->drainClock_.AfterWait(now - start, true, now);
      } else if (!ec) {
        self->drainClock_.Moved(static_cast<int64_t>(n));
        verdict = self->drainClock_.AfterWait(now - start, false, now);
      }
      if (verdict != TransferVerdict::Ok)
        self->LogCut(self->drainClock_.DescribeRead(verdict));
      if (ec || verdict != TransferVerdict::Ok) return self->Close();
      self->drainLeft_ -= static_cast<int64_t>(n);
      if (self->drainLeft_ <= 0) return self->ReadHeader();
      self->DrainSome();
    });
  }

  // ---- worker thread: one page ---------------------------------------------------------

  int Fd() { return stream_.socket().native_handle(); }

  // Takes the socket out of the I/O threads' epoll while the page waits for
  // its client: asio watches a socket edge-triggered for as long as it is
  // registered, so every packet of a large upload (and every ACK of a large
  // download) would wake an I/O thread with nothing to do. Done only at the
  // page's first real wait, so pages that never wait pay nothing.
  void Unwatch() {
    beast::error_code ec;
    int fd = stream_.socket().release(ec);
    if (!ec) unwatchedFd_ = fd;
  }

  // Gives the socket back to the I/O threads after the page; false (the
  // socket closed) when it cannot be registered again.
  bool Rewatch() {
    if (unwatchedFd_ < 0) return true;
    int fd = std::exchange(unwatchedFd_, -1);
    beast::error_code ec;
    stream_.socket().assign(protocol_, fd, ec);
    if (!ec) return true;
    ::close(fd);
    return false;
  }

  // Reads up to `max` body bytes for the page: first what the header read
  // left in the buffer, then the socket through the channel (its limits, the
  // page's clock). Returns 0 when the client ended its side before the body's
  // end; the connection still carries the page's answer.
  size_t ReadBody(uint8_t* out, size_t max) {
    channel_.CheckRead();
    if (buffer_.size() > 0) {
      size_t n = std::min(max, buffer_.size());
      net::buffer_copy(net::buffer(out, n), buffer_.data());
      buffer_.consume(n);
      return n;
    }
    return channel_.Read(out, max);
  }

  // Whether the connection can carry another request after this page's
  // answer: its body came whole (or at most kDrainLimit of it is left to
  // drop), no read failed, and the server is not draining.
  bool MayKeepAlive() {
    if (channel_.ReadFailed() || channel_.ReadEnded() || channel_.Broken() || server_.draining) return false;
    if (!body_) return true;
    if (body_->Truncated()) return false;
    int64_t left = body_->Unpulled();
    if (left == 0) return true;
    return !body_->AwaitingContinue() && left <= kDrainLimit;
  }

  // The page's output goes straight to the connection (kept alive by the sink).
  class Sink : public ResponseSink {
   public:
    explicit Sink(std::shared_ptr<HttpConnection> c) : c_(std::move(c)) {}
    bool Send(std::string_view data) override { return c_->channel_.Send(data); }
    bool Connected() override { return c_->channel_.PeerConnected(); }
    bool CanSendFile() override { return true; }
    bool SendFile(int fd, int64_t offset, int64_t length) override { return c_->channel_.SendFile(fd, offset, length); }

   private:
    std::shared_ptr<HttpConnection> c_;
  };

  RequestInfo MakeInfo(const Target& t) {
    auto& req = parser_->get();
    RequestInfo info;
    info.method = std::string(req.method_string());
    info.path = t.virtualPath;
    info.query = query_;
    info.protocol = version_ == 10 ? "HTTP/1.0" : "HTTP/1.1";
    for (const auto& f : req) info.headers.emplace_back(std::string(f.name_string()), std::string(f.value()));
    info.remoteAddr = remoteAddr_;
    info.remotePort = remotePort_;
    info.localAddr = localAddr_;
    info.serverPort = localPort_;
    info.serverName = localAddr_;
    auto host = req.find(http::field::host);
    if (host != req.end()) {
      // "name:port" or "[v6]:port": SERVER_NAME is the part before the port.
      std::string h(host->value());
      size_t colon = h.rfind(':');
      size_t bracket = h.rfind(']');
      if (colon != std::string::npos && (bracket == std::string::npos || bracket < colon)) h.resize(colon);
      if (!h.empty()) info.serverName = h;
    }
    info.pathTranslated = ToDosPath(t.nativePath);
    info.siteRootDos = ToDosPath(server_.site->root);
    ApplyForwarded(info, cfg_->trustedProxies);
    return info;
  }

  void RunPageJob(const Target& t) {
    auto& req = parser_->get();
    RequestInfo info = MakeInfo(t);
    auto now = SteadyClock::now();
    pageClock_ = PageClock(cfg_->pageDeadline, server_.stop, now);
    channel_.Begin(Fd(), ReadLimits(*cfg_), WriteLimits(*cfg_), pageClock_, [this](const std::string& why) { LogCut(why); },
                   now);
    channel_.BeforeFirstWait([this] { Unwatch(); });
    std::function<void()> onFirstRead;
    auto expect = req.find(http::field::expect);
    if (expect != req.end() && version_ == 11 && LowerAscii(std::string(expect->value())) == "100-continue")
      onFirstRead = [this] { channel_.Send("HTTP/1.1 100 Continue\r\n\r\n"); };
    body_ = std::make_shared<BodyReader>(
        contentLength_, [this](uint8_t* out, size_t max) { return ReadBody(out, max); }, BodyReader::kBufferBytes, onFirstRead);
    auto checkpoint = [this] { pageClock_.Check(); };
    ResponseOptions ro;
    ro.headRequest = req.method() == http::verb::head;
    ro.keepAlive = keepAlive_;
    ro.chunkedAllowed = version_ == 11;
    ro.bufferLimit = cfg_->responseBufferBytes;
    ro.mayKeepAlive = [this] { return MayKeepAlive(); };
    ro.checkpoint = checkpoint;
    auto response = std::make_shared<HttpResponse>(std::make_shared<Sink>(shared_from_this()), ro);
    auto request = std::make_shared<HttpRequest>(std::move(info), body_, 16 * 1024 * 1024);
    request->SetCheckpoint(checkpoint);
    request->SetReadLimit(cfg_->pageMemoryLimit);
    PageLimits limits;
    limits.cpuSeconds = cfg_->scriptTimeout;
    limits.memoryBytes = cfg_->pageMemoryLimit;
    limits.clock = pageClock_;
    RunPage(*server_.site, t.virtualPath, request, response, limits);
    channel_.Uncork();  // the end of a download leaves now, not after the kernel's 200 ms
    int status = response->StatusCode();
    LogRequest(status, response->BodyBytesSent(), status >= 500 ? "the page failed" : "", response->LogText());

    bool keep = Rewatch() && response->KeepAlive() && MayKeepAlive();
    int64_t unread = keep ? body_->Unpulled() : 0;
    auto self = shared_from_this();
    net::post(stream_.get_executor(), [self, keep, unread] {
      if (keep) self->DrainThenReadHeader(unread);
      else self->LingeringClose();
    });
  }

  beast::tcp_stream stream_;
  HttpServer::Impl& server_;
  std::shared_ptr<const HostConfig> cfg_;  // the settings of the current request
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  StaticAnswer static_;                  // the static file being answered
  size_t headSent_ = 0;                  // bytes of its head sent
  net::steady_timer staticTimer_{stream_.get_executor()};  // bounds a wait for the socket
  uint64_t staticWait_ = 0;              // the current wait (a stale timer cancels nothing)
  bool staticTimedOut_ = false;
  TcpCork staticCork_;                   // set while its body leaves by sendfile
  TransferClock staticClock_;            // its write limits
  std::array<char, 16384> drop_{};
  std::string path_, query_;
  std::string peer_ = "?";  // "address:port" for the log
  // The connection's two ends, looked up once when it opens (not per request).
  std::string remoteAddr_, localAddr_;
  int remotePort_ = 0, localPort_ = 80;
  tcp protocol_ = tcp::v4();
  std::chrono::system_clock::time_point startWall_{};  // the current request's headers were read then
  SteadyClock::time_point startSteady_{};
  int64_t contentLength_ = 0;
  unsigned version_ = 11;
  bool keepAlive_ = false;
  bool keepAfterFile_ = false;
  bool hasBody_ = false;
  bool first_ = true;
  bool busy_ = false;           // a request is in flight (counted in server_.busy)
  bool waitingHeader_ = false;  // waiting for the next request's headers
  SteadyClock::time_point lingerUntil_{};
  int64_t drainLeft_ = 0;       // unread body bytes still to drop
  TransferClock drainClock_;
  // The page's transfers (worker thread).
  std::shared_ptr<BodyReader> body_;
  PageClock pageClock_;
  WorkerChannel channel_;      // the socket as the page thread uses it
  int unwatchedFd_ = -1;       // the socket while the I/O threads do not watch it
};

void HttpServer::Impl::Accept() {
  acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
    if (stopping || draining) return;
    if (!ec) {
      std::make_shared<HttpConnection>(std::move(socket), *this)->Start();
      return Accept();
    }
    if (ec == net::error::operation_aborted) return;
    // Out of descriptors and the like: try again shortly instead of spinning.
    auto timer = std::make_shared<net::steady_timer>(ioc, std::chrono::milliseconds(100));
    timer->async_wait([this, timer](beast::error_code) { Accept(); });
  });
}

void HttpServer::Impl::CloseIdleConnections() {
  std::vector<std::shared_ptr<HttpConnection>> live;
  {
    std::lock_guard g(connectionsMutex);
    for (auto& [raw, weak] : connections)
      if (auto c = weak.lock()) live.push_back(std::move(c));
  }
  for (auto& c : live) net::post(c->Executor(), [c] { c->CloseIfIdle(); });
}

HttpServer::HttpServer(HostConfig config, std::shared_ptr<Site> site) : impl_(std::make_unique<Impl>()) {
  impl_->OpenLogs(config);
  impl_->config = std::make_shared<const HostConfig>(std::move(config));
  impl_->site = std::move(site);
}

HttpServer::~HttpServer() {
  Stop();
  for (auto& t : impl_->ioThreads)
    if (t.joinable()) t.join();
}

uint16_t HttpServer::Listen() {
  auto cfg = impl_->Config();
  beast::error_code ec;
  auto address = net::ip::make_address(cfg->listenHost, ec);
  if (ec) {
    tcp::resolver resolver(impl_->ioc);
    auto results = resolver.resolve(cfg->listenHost, std::to_string(cfg->listenPort), ec);
    if (ec || results.empty()) throw std::runtime_error("cannot resolve listen address " + cfg->listenHost);
    address = results.begin()->endpoint().address();
  }
  tcp::endpoint ep(address, cfg->listenPort);
  auto& a = impl_->acceptor;
  a.open(ep.protocol(), ec);
  if (!ec) a.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) a.bind(ep, ec);
  if (!ec) a.listen(net::socket_base::max_listen_connections, ec);
  if (ec)
    throw std::runtime_error("cannot listen on " + cfg->listenHost + ":" + std::to_string(cfg->listenPort) + ": " +
                             ec.message());
  return a.local_endpoint().port();
}

void HttpServer::Run() {
  auto cfg = impl_->Config();
  impl_->workers = std::make_unique<WorkerPool>(cfg->workers, cfg->pageThreads, static_cast<size_t>(cfg->queueLimit));
  impl_->workers->SetIdleExitHook(ReleaseThreadMemory);
  impl_->Accept();
  // Runs until Stop(), even while no connection has an operation pending
  // (a drained server whose last pages are still running).
  auto work = net::make_work_guard(impl_->ioc);
  for (int i = 1; i < cfg->ioThreads; ++i) impl_->ioThreads.emplace_back([this] { impl_->ioc.run(); });
  impl_->ioc.run();
}

void HttpServer::Stop() {
  if (impl_->stopping.exchange(true)) return;
  net::post(impl_->ioc, [this] {
    beast::error_code ec;
    impl_->acceptor.close(ec);
    impl_->ioc.stop();
  });
  if (impl_->workers) impl_->workers->Stop(false);
}

void HttpServer::Drain(int graceSeconds) {
  impl_->draining = true;
  net::post(impl_->ioc, [this] {
    beast::error_code ec;
    impl_->acceptor.close(ec);
  });
  impl_->CloseIdleConnections();
  auto graceEnd = SteadyClock::now() + std::chrono::seconds(graceSeconds);
  while (impl_->busy > 0 && SteadyClock::now() < graceEnd) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int left = impl_->busy;
  if (left == 0) return;
  Log("grace period of " + std::to_string(graceSeconds) + " seconds over: stopping " + std::to_string(left) +
      " request(s) still in flight");
  impl_->stop->Trigger(graceSeconds);
  // Pages stop at their next checkpoint and clean up what they wrote.
  if (impl_->workers) impl_->workers->WaitIdle(SteadyClock::now() + kStopWait);
}

void HttpServer::Reload(const HostConfig& config) {
  try {
    impl_->OpenLogs(config);
  } catch (const std::exception& e) {
    Log(std::string("reload: ") + e.what() + "; the access log and error page stay as they were");
  }
  auto next = std::make_shared<const HostConfig>(config);
  {
    std::lock_guard g(impl_->configMutex);
    impl_->config = next;
  }
  if (impl_->workers) impl_->workers->SetLimits(next->workers, next->pageThreads, static_cast<size_t>(next->queueLimit));
}

int HttpServer::RequestsInFlight() const { return impl_->busy; }

}  // namespace torvane::server
