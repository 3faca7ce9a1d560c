#include "server/http_server.h"

#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <thread>

#include "automation/error.h"
#include "automation/object.h"
#include "platform/paths.h"
#include "server/page_folders.h"
#include "server/site_path.h"
#include "server/worker_pool.h"

namespace torvane::server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr int64_t kDrainLimit = 262144;   // unread body bytes read and dropped to keep a connection
constexpr int32_t kHostError = -2147467259;

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

struct HttpServer::Impl {
  HostConfig config;
  std::shared_ptr<Site> site;
  net::io_context ioc;
  tcp::acceptor acceptor{ioc};
  std::unique_ptr<WorkerPool> workers;
  std::vector<std::thread> ioThreads;
  std::atomic<bool> stopping{false};

  void Accept();
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, HttpServer::Impl& server)
      : stream_(std::move(socket)), server_(server), buffer_(static_cast<size_t>(server.config.maxHeaderBytes) + 65536) {}

  void Start() {
    // Small answers leave at once instead of waiting for the client's ACK.
    beast::error_code ec;
    stream_.socket().set_option(tcp::no_delay(true), ec);
    ReadHeader();
  }

 private:
  // ---- I/O thread: headers, static files, error answers ------------------------------

  void ReadHeader() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_.config.maxHeaderBytes));
    // The body is read later, by the page or the drain, never through this
    // parser: its own body limit (1 MiB by default) would refuse every larger
    // Content-Length as a malformed request. max_request_bytes is checked in
    // OnHeader. (Not boost::none: Boost 1.74 compares a length with an empty
    // limit as "greater", so every body would be refused.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_->eager(false);
    // The body is never read through the parser; its limit is checked here (413).
    parser_->body_limit((std::numeric_limits<std::uint64_t>::max)());
    stream_.expires_after(std::chrono::seconds(first_ ? server_.config.headerTimeout : server_.config.keepAliveTimeout));
    first_ = false;
    http::async_read_header(stream_, buffer_, *parser_, beast::bind_front_handler(&Connection::OnHeader, shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
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
    auto& req = parser_->get();
    version_ = req.version();
    keepAlive_ = req.keep_alive();
    if (version_ != 10 && version_ != 11) return SendError(http::status::http_version_not_supported, "HTTP version not supported.\n");
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
    if (contentLength_ > server_.config.maxRequestBytes)
      return SendError(http::status::payload_too_large,
                       "The request body is larger than " + std::to_string(server_.config.maxRequestBytes) + " bytes.\n");
    Target t = ResolveTarget(server_.site->root, path_);
    switch (t.kind) {
      case TargetKind::NotFound: return SendError(http::status::not_found, "Not found.\n", !hasBody_);
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
          return SendError(http::status::not_found, "Not found.\n", !hasBody_);
        if (chunked) return SendError(http::status::length_required, "A request body needs a Content-Length.\n");
        return QueuePage(t);
    }
  }

  // Answers with a short text and closes, or keeps the connection when allowed.
  void SendError(http::status status, std::string body, bool mayKeep = false, std::string location = "",
                 std::string allow = "") {
    auto res = std::make_shared<http::response<http::string_body>>(status, version_ == 10 ? 10 : 11);
    res->set(http::field::server, "Torvane");
    res->set(http::field::content_type, "text/plain; charset=utf-8");
    if (!location.empty()) res->set(http::field::location, location);
    if (!allow.empty()) res->set(http::field::allow, allow);
    bool keep = mayKeep && keepAlive_;
    res->keep_alive(keep);
    res->body() = std::move(body);
    res->prepare_payload();
    stream_.expires_after(std::chrono::seconds(server_.config.writeTimeout));
    auto self = shared_from_this();
    http::async_write(stream_, *res, [self, res, keep](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      if (keep) return self->ReadHeader();
      self->LingeringClose();
    });
  }

  // Stops sending, then reads and drops what the client still sends for a
  // moment, so that it sees the answer instead of a reset.
  void LingeringClose() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.expires_after(std::chrono::seconds(2));
    ReadAndDrop();
  }

  void ReadAndDrop() {
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

  void ServeFile(const Target& t) {
    auto& req = parser_->get();
    bool head = req.method() == http::verb::head;
    struct stat st {};
    if (::stat(t.nativePath.c_str(), &st) != 0) return SendError(http::status::not_found, "Not found.\n", !hasBody_);
    std::string modified = HttpDate(static_cast<int64_t>(st.st_mtime));
    bool keep = keepAlive_ && !hasBody_;
    auto ims = req.find(http::field::if_modified_since);
    if (ims != req.end() && std::string_view(ims->value().data(), ims->value().size()) == modified) {
      auto res = std::make_shared<http::response<http::empty_body>>(http::status::not_modified, version_);
      res->set(http::field::server, "Torvane");
      res->set(http::field::last_modified, modified);
      res->keep_alive(keep);
      return WriteSmall(res, keep);
    }
    fileRes_.emplace(http::status::ok, version_);
    beast::error_code ec;
    fileRes_->body().open(t.nativePath.c_str(), beast::file_mode::scan, ec);
    if (ec) {
      fileRes_.reset();
      return SendError(http::status::forbidden, "The file cannot be read.\n", !hasBody_);
    }
    fileRes_->set(http::field::server, "Torvane");
    fileRes_->set(http::field::content_type, MimeTypeFor(t.virtualPath));
    fileRes_->set(http::field::last_modified, modified);
    fileRes_->keep_alive(keep);
    fileRes_->prepare_payload();
    if (head) {
      auto res = std::make_shared<http::response<http::empty_body>>(http::status::ok, version_);
      res->base() = fileRes_->base();
      fileRes_.reset();
      return WriteSmall(res, keep, true);
    }
    fileSer_.emplace(*fileRes_);
    keepAfterFile_ = keep;
    WriteFileSome();
  }

  template <class Res>
  void WriteSmall(std::shared_ptr<Res> res, bool keep, bool headOnly = false) {
    stream_.expires_after(std::chrono::seconds(server_.config.writeTimeout));
    auto self = shared_from_this();
    if (headOnly) {
      auto sr = std::make_shared<http::response_serializer<http::empty_body>>(*res);
      http::async_write_header(stream_, *sr, [self, res, sr, keep](beast::error_code ec, std::size_t) {
        self->AfterResponse(ec, keep);
      });
      return;
    }
    http::async_write(stream_, *res, [self, res, keep](beast::error_code ec, std::size_t) { self->AfterResponse(ec, keep); });
  }

  // Large files leave piece by piece; the write timeout applies to each piece.
  void WriteFileSome() {
    stream_.expires_after(std::chrono::seconds(server_.config.writeTimeout));
    auto self = shared_from_this();
    http::async_write_some(stream_, *fileSer_, [self](beast::error_code ec, std::size_t) {
      if (ec) {
        self->fileSer_.reset();
        self->fileRes_.reset();
        return self->Close();
      }
      if (!self->fileSer_->is_done()) return self->WriteFileSome();
      self->fileSer_.reset();
      self->fileRes_.reset();
      self->AfterResponse({}, self->keepAfterFile_);
    });
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

  // ---- worker thread: one page ---------------------------------------------------------

  int Fd() { return stream_.socket().native_handle(); }

  // Reads up to `max` body bytes: first what the header read left in the
  // buffer, then the socket, waiting at most the read timeout.
  size_t ReadBody(uint8_t* out, size_t max) {
    if (buffer_.size() > 0) {
      size_t n = std::min(max, buffer_.size());
      net::buffer_copy(net::buffer(out, n), buffer_.data());
      buffer_.consume(n);
      return n;
    }
    while (true) {
      // Bytes already in the socket are taken at once; poll() only waits
      // (at most read_timeout) when there are none.
      ssize_t got = ::recv(Fd(), out, max, MSG_DONTWAIT);
      if (got > 0) return static_cast<size_t>(got);
      if (got == 0) {
        broken_ = true;
        return 0;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        broken_ = true;
        ThrowErrno(errno);
      }
      pollfd p{Fd(), POLLIN, 0};
      int r = ::poll(&p, 1, server_.config.readTimeout * 1000);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) {
        // The page learns of it; its answer may still reach the client, but
        // the connection carries nothing after it.
        readTimedOut_ = true;
        throw Error(kHostError,
                    "Request.BinaryRead - the client sent no data for " + std::to_string(server_.config.readTimeout) +
                        " seconds.",
                    "Request object");
      }
      // Readable (or failed): the next recv() says which.
    }
  }

  // Sends everything, waiting at most the write timeout for each step.
  // Sends everything, waiting (at most write_timeout each time) only when the
  // socket's buffer is full: a send is tried first, poll() only on EAGAIN.
  bool SendAll(std::string_view data) {
    if (broken_) return false;
    while (!data.empty()) {
      ssize_t n = ::send(Fd(), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        data.remove_prefix(static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{Fd(), POLLOUT, 0};
        int r = ::poll(&p, 1, server_.config.writeTimeout * 1000);
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL))) continue;
      }
      broken_ = true;
      return false;
    }
    return true;
  }

  // Sends `length` bytes of `fd` from `offset` with sendfile(2), waiting like
  // SendAll when the socket is full. A file that ends too soon breaks the
  // connection (its length was announced) and fails with 62.
  bool SendFileAll(int fd, int64_t offset, int64_t length) {
    if (broken_) return false;
    off_t off = static_cast<off_t>(offset);
    while (length > 0) {
      ssize_t n = ::sendfile(Fd(), fd, &off, static_cast<size_t>(std::min<int64_t>(length, 1 << 30)));
      if (n > 0) {
        length -= n;
        continue;
      }
      if (n == 0) {
        broken_ = true;
        throw Error(62, "Input past end of file");
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{Fd(), POLLOUT, 0};
        int r = ::poll(&p, 1, server_.config.writeTimeout * 1000);
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL))) continue;
      }
      broken_ = true;
      return false;
    }
    return true;
  }

  // Whether the client is still there. A page asks before every 1 KiB it
  // reads and every chunk it sends, so a positive answer is reused for a few
  // milliseconds instead of costing two system calls each time; a client that
  // has gone is still noticed within that time.
  bool PeerConnected() {
    if (broken_) return false;
    auto now = std::chrono::steady_clock::now();
    if (now - lastConnectedCheck_ < std::chrono::milliseconds(5)) return true;
    if (!ProbePeer()) return false;
    lastConnectedCheck_ = now;
    return true;
  }

  bool ProbePeer() {
    pollfd p{Fd(), POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return false;
    if (p.revents & POLLIN) {
      char c;
      ssize_t n = ::recv(Fd(), &c, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n == 0) return false;
    }
    return true;
  }

  // The page's output goes straight to the connection (kept alive by the sink).
  class Sink : public ResponseSink {
   public:
    explicit Sink(std::shared_ptr<Connection> c) : c_(std::move(c)) {}
    bool Send(std::string_view data) override { return c_->SendAll(data); }
    bool Connected() override { return c_->PeerConnected(); }
    bool CanSendFile() override { return true; }
    bool SendFile(int fd, int64_t offset, int64_t length) override { return c_->SendFileAll(fd, offset, length); }

   private:
    std::shared_ptr<Connection> c_;
  };

  RequestInfo MakeInfo(const Target& t) {
    auto& req = parser_->get();
    RequestInfo info;
    info.method = std::string(req.method_string());
    info.path = t.virtualPath;
    info.query = query_;
    info.protocol = version_ == 10 ? "HTTP/1.0" : "HTTP/1.1";
    for (const auto& f : req) info.headers.emplace_back(std::string(f.name_string()), std::string(f.value()));
    beast::error_code ec;
    auto remote = stream_.socket().remote_endpoint(ec);
    if (!ec) {
      info.remoteAddr = remote.address().to_string();
      info.remotePort = remote.port();
    }
    auto local = stream_.socket().local_endpoint(ec);
    if (!ec) {
      info.localAddr = local.address().to_string();
      info.serverPort = local.port();
      info.serverName = info.localAddr;
    }
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
    return info;
  }

  void RunPageJob(const Target& t) {
    auto& req = parser_->get();
    RequestInfo info = MakeInfo(t);
    std::function<void()> onFirstRead;
    auto expect = req.find(http::field::expect);
    if (expect != req.end() && version_ == 11 && LowerAscii(std::string(expect->value())) == "100-continue")
      onFirstRead = [this] { SendAll("HTTP/1.1 100 Continue\r\n\r\n"); };
    auto body = std::make_shared<BodyReader>(
        contentLength_, [this](uint8_t* out, size_t max) { return ReadBody(out, max); }, 65536, onFirstRead);
    ResponseOptions ro;
    ro.headRequest = req.method() == http::verb::head;
    ro.keepAlive = keepAlive_;
    ro.chunkedAllowed = version_ == 11;
    ro.bufferLimit = server_.config.responseBufferBytes;
    auto response = std::make_shared<HttpResponse>(std::make_shared<Sink>(shared_from_this()), ro);
    auto request = std::make_shared<HttpRequest>(std::move(info), body, 16 * 1024 * 1024);
    RunPage(*server_.site, t.virtualPath, request, response);

    bool keep = response->KeepAlive() && !broken_ && !readTimedOut_;
    if (keep && body->Remaining() > 0) {
      try {
        keep = !body->AwaitingContinue() && body->Remaining() <= kDrainLimit && body->Drain(kDrainLimit);
      } catch (...) {
        keep = false;
      }
    }
    if (body->Truncated()) keep = false;
    auto self = shared_from_this();
    net::post(stream_.get_executor(), [self, keep] {
      if (keep) self->ReadHeader();
      else self->LingeringClose();
    });
  }

  beast::tcp_stream stream_;
  std::chrono::steady_clock::time_point lastConnectedCheck_{};
  HttpServer::Impl& server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::optional<http::response<http::file_body>> fileRes_;
  std::optional<http::response_serializer<http::file_body>> fileSer_;
  std::array<char, 4096> drop_{};
  std::string path_, query_;
  int64_t contentLength_ = 0;
  unsigned version_ = 11;
  bool keepAlive_ = false;
  bool keepAfterFile_ = false;
  bool hasBody_ = false;
  bool first_ = true;
  bool broken_ = false;        // the connection failed: nothing more is sent
  bool readTimedOut_ = false;  // the body stalled: the connection ends after the answer
};

}  // namespace

void HttpServer::Impl::Accept() {
  acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
    if (stopping) return;
    if (!ec) {
      std::make_shared<Connection>(std::move(socket), *this)->Start();
      return Accept();
    }
    if (ec == net::error::operation_aborted) return;
    // Out of descriptors and the like: try again shortly instead of spinning.
    auto timer = std::make_shared<net::steady_timer>(ioc, std::chrono::milliseconds(100));
    timer->async_wait([this, timer](beast::error_code) { Accept(); });
  });
}

HttpServer::HttpServer(HostConfig config, std::shared_ptr<Site> site) : impl_(std::make_unique<Impl>()) {
  impl_->config = std::move(config);
  impl_->site = std::move(site);
}

HttpServer::~HttpServer() {
  Stop();
  for (auto& t : impl_->ioThreads)
    if (t.joinable()) t.join();
}

uint16_t HttpServer::Listen() {
  beast::error_code ec;
  auto address = net::ip::make_address(impl_->config.listenHost, ec);
  if (ec) {
    tcp::resolver resolver(impl_->ioc);
    auto results = resolver.resolve(impl_->config.listenHost, std::to_string(impl_->config.listenPort), ec);
    if (ec || results.empty()) throw std::runtime_error("cannot resolve listen address " + impl_->config.listenHost);
    address = results.begin()->endpoint().address();
  }
  tcp::endpoint ep(address, impl_->config.listenPort);
  auto& a = impl_->acceptor;
  a.open(ep.protocol(), ec);
  if (!ec) a.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) a.bind(ep, ec);
  if (!ec) a.listen(net::socket_base::max_listen_connections, ec);
  if (ec)
    throw std::runtime_error("cannot listen on " + impl_->config.listenHost + ":" +
                             std::to_string(impl_->config.listenPort) + ": " + ec.message());
  return a.local_endpoint().port();
}

void HttpServer::Run() {
  impl_->workers = std::make_unique<WorkerPool>(impl_->config.workers, static_cast<size_t>(impl_->config.queueLimit));
  impl_->Accept();
  for (int i = 1; i < impl_->config.ioThreads; ++i) impl_->ioThreads.emplace_back([this] { impl_->ioc.run(); });
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

}  // namespace torvane::server
