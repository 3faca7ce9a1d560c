// torvane run: one page, one request from the command line, the raw HTTP/1.1
// response (status line, headers, blank line, body) on standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/error.h"
#include "basics/fdio.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "platform/paths.h"
#include "server/config.h"
#include "server/page_folders.h"
#include "server/page_runner.h"
#include "server/request_log.h"
#include "server/site_path.h"
#include "server/state_store.h"

namespace torvane::cli {

namespace {

using namespace torvane::server;

struct RunOptions {
  std::string configFile, root, registry, method = "GET", body, target;
  std::vector<std::pair<std::string, std::string>> headers;
};

// Writes every byte to standard output.
class StdoutSink : public ResponseSink {
 public:
  bool Send(std::string_view data) override { return WriteAll(STDOUT_FILENO, data.data(), data.size()); }
  bool Connected() override { return true; }
};

constexpr OptionSpec kRunOptions[] = {
    {"--root", "DIR", "the site folder (default: the bundled demo site)"},
    {"--config", "FILE", "a configuration file (key = value lines); options given here override it"},
    {"--registry", "FILE", "the registry file of file types and components"},
    {"--method", "METHOD", "the request method (default GET)"},
    {"--header", "\"NAME: VALUE\"", "a request header; give it once per header"},
    {"--body", "FILE|-", "the request body: a file, or - for standard input"},
};

void RunHelp() {
  std::printf(
      "usage: torvane run [OPTIONS] PATH[?QUERY]\n"
      "\n"
      "Runs the page (or sends the file) at PATH of the site once, as for one\n"
      "request, and writes the whole HTTP response to standard output.\n"
      "Exit status: 0 when a response was written (whatever its status),\n"
      "1 when the site, the configuration or the body cannot be used, 2 for a usage error.\n"
      "\n"
      "options (--name value or --name=value):\n%s",
      OptionsHelp(kRunOptions).c_str());
}

bool ParseArgs(int argc, char** argv, RunOptions& o, bool& help, std::string& error) {
  ParsedArgs args;
  if (!ParseOptions(argc, argv, kRunOptions, args, error)) return false;
  help = args.help;
  if (help) return true;
  for (const auto& [name, value] : args.options) {
    if (name == "--root") o.root = value;
    else if (name == "--registry") o.registry = value;
    else if (name == "--config") o.configFile = value;
    else if (name == "--method") o.method = value;
    else if (name == "--body") o.body = value;
    else if (name == "--header") {
      size_t colon = value.find(':');
      if (colon == std::string::npos || colon == 0) {
        error = "--header needs \"Name: value\", got \"" + value + "\"";
        return false;
      }
      std::string v = value.substr(colon + 1);
      while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.erase(0, 1);
      o.headers.emplace_back(value.substr(0, colon), v);
    }
  }
  if (args.positional.size() > 1) {
    error = "more than one PATH given";
    return false;
  }
  if (args.positional.empty()) {
    error = "no PATH given";
    return false;
  }
  o.target = args.positional.front();
  return true;
}

// Opens the body: a file, or standard input spooled to an unnamed temporary
// file so its size is known without holding it in memory.
int OpenBody(const std::string& body, int64_t& size) {
  int fd = -1;
  if (body == "-") {
    FILE* tmp = std::tmpfile();
    if (!tmp) throw std::runtime_error("cannot create a temporary file for standard input");
    fd = ::dup(fileno(tmp));
    std::fclose(tmp);
    std::vector<char> buf(65536);
    while (true) {
      ssize_t n = ReadSome(STDIN_FILENO, buf.data(), buf.size());
      if (n < 0) throw std::runtime_error(std::string("reading standard input: ") + std::strerror(errno));
      if (n == 0) break;
      if (!WriteAll(fd, buf.data(), static_cast<size_t>(n))) throw std::runtime_error("spooling standard input failed");
    }
    ::lseek(fd, 0, SEEK_SET);
  } else {
    fd = ::open(body.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(body + ": " + std::strerror(errno));
  }
  struct stat st {};
  ::fstat(fd, &st);
  size = st.st_size;
  return fd;
}

void ServeFile(const Target& t, HttpResponse& response) {
  std::ifstream in(t.nativePath, std::ios::binary);
  response.SetContentType(MimeTypeFor(t.virtualPath));
  std::vector<char> buf(65536);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    std::streamsize n = in.gcount();
    if (n > 0) response.BinaryWrite(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<size_t>(n)));
  }
  response.Finish();
}

void Simple(HttpResponse& response, const std::string& status, const std::string& body) {
  response.SetStatus(status);
  response.Write(body);
  response.Finish();
}

}  // namespace

int RunCommand(int argc, char** argv) {
  RunOptions o;
  std::string error;
  bool help = false;
  if (!ParseArgs(argc, argv, o, help, error)) return UsageError("run", error);
  if (help) {
    RunHelp();
    return 0;
  }
  HostConfig config;
  int bodyFd = -1;
  try {
    if (!o.configFile.empty()) LoadConfigFile(o.configFile, config);
    if (!o.root.empty()) config.root = o.root;
    if (!o.registry.empty()) config.registry = o.registry;
    if (config.root.empty()) config.root = DefaultSiteRoot();
    if (config.root.empty()) throw std::runtime_error("no site root: give --root DIR");
    CheckSiteRoot(config.root);
    ApplyProcessSettings(config);
    int64_t bodySize = 0;
    if (!o.body.empty()) bodyFd = OpenBody(o.body, bodySize);

    Site site(config.root);
    site.scriptTimeout = config.scriptTimeout;
    site.noPages = config.noPages;
    site.errorPage = config.errorPage;
    ApplyStateStore(site, config);
    site.sessionSettings.cookieName = config.sessionCookie;
    std::string rawPath = o.target, query;
    if (size_t q = rawPath.find('?'); q != std::string::npos) {
      query = rawPath.substr(q + 1);
      rawPath.resize(q);
    }
    if (rawPath.empty() || rawPath[0] != '/') rawPath = "/" + rawPath;

    ResponseOptions ro;
    ro.keepAlive = false;
    ro.chunkedAllowed = false;
    ro.headRequest = o.method == "HEAD";
    ro.bufferLimit = config.responseBufferBytes;
    auto response = std::make_shared<HttpResponse>(std::make_shared<StdoutSink>(), ro);

    std::string decoded;
    if (!DecodeRequestPath(rawPath, decoded)) {
      Simple(*response, "400 Bad Request", "Bad request path\n");
      return 0;
    }
    Target t = ResolveTarget(site.root, decoded);
    if (t.kind == TargetKind::Page && !PageMayRun(site.root, site.noPages, t.virtualPath, t.nativePath))
      t.kind = TargetKind::NotFound;
    switch (t.kind) {
      case TargetKind::NotFound: Simple(*response, "404 Not Found", "Not found: " + decoded + "\n"); break;
      case TargetKind::RedirectToFolder:
        response->Redirect(t.virtualPath);
        response->Finish();
        break;
      case TargetKind::File: ServeFile(t, *response); break;
      case TargetKind::Page: {
        RequestInfo info;
        info.method = o.method;
        info.path = t.virtualPath;
        info.query = query;
        info.headers = o.headers;
        info.serverName = "localhost";
        info.serverPort = 80;
        info.pathTranslated = ToDosPath(t.nativePath);
        info.siteRootDos = ToDosPath(site.root);
        // The request's Content-Length is the body's size, whatever --header said.
        std::erase_if(info.headers, [](const auto& h) { return EqualsNoCase(h.first, "Content-Length"); });
        if (!o.body.empty()) info.headers.emplace_back("Content-Length", std::to_string(bodySize));
        int fd = bodyFd;
        auto source = [fd](uint8_t* out, size_t max) -> size_t {
          if (fd < 0) return 0;
          ssize_t n = ReadSome(fd, out, max);
          if (n < 0) ThrowErrno(errno);
          return static_cast<size_t>(n);
        };
        auto body = std::make_shared<BodyReader>(bodySize, source);
        auto request = std::make_shared<HttpRequest>(info, body, 16 * 1024 * 1024);
        request->SetReadLimit(config.pageMemoryLimit);
        PageLimits limits;
        limits.memoryBytes = config.pageMemoryLimit;
        limits.clock = PageClock(config.pageDeadline, nullptr);
        RunPage(site, t.virtualPath, request, response, limits);
        // The runner keeps no access log: what the page added goes to stderr.
        if (!response->LogText().empty())
          std::fprintf(stderr, "torvane: page log %s: %s\n", t.virtualPath.c_str(), LogQuoted(response->LogText()).c_str());
        break;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane run: %s\n", e.what());
    if (bodyFd >= 0) ::close(bodyFd);
    return 1;
  }
  if (bodyFd >= 0) ::close(bodyFd);
  return 0;
}

}  // namespace torvane::cli
