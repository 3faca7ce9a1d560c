// torvane serve: the web host on a site folder.
//
// Signals: SIGTERM and SIGINT drain the server (the listener closes, requests
// in flight finish within grace_period, the rest are stopped at their next
// checkpoint) and end the process; SIGHUP reopens the log file and rereads the
// configuration for the requests to come, connections staying open.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "cli/options.h"
#include "server/config.h"
#include "server/http_server.h"
#include "server/state_store.h"

namespace torvane::cli {

namespace {

using namespace torvane::server;

// What the command line said, applied over the configuration file's settings
// (at start and again on every reload).
struct CommandLine {
  std::string configFile, root, listen, registry, accessLog;

  void ApplyTo(HostConfig& config) const {
    if (!configFile.empty()) LoadConfigFile(configFile, config);
    if (!root.empty()) config.root = root;
    if (!listen.empty()) ParseListen(listen, config);
    if (!registry.empty()) config.registry = registry;
    if (!accessLog.empty()) config.accessLog = accessLog;
  }
};

constexpr OptionSpec kServeOptions[] = {
    {"--root", "DIR", "the site folder (default: the bundled demo site)"},
    {"--listen", "HOST:PORT", "the address to listen on (default 127.0.0.1:8080; port 0 picks a free one)"},
    {"--config", "FILE", "a configuration file (key = value lines); options given here override it"},
    {"--registry", "FILE", "the registry file of file types and components"},
    {"--access-log", "PATH", "where the access log goes: a file, - for standard output, off for none"},
};

void ServeHelp() {
  std::printf(
      "usage: torvane serve [OPTIONS]\n"
      "\n"
      "Serves a site folder: .asp pages run, other files are sent as they are,\n"
      "names starting with a dot are never served.\n"
      "\n"
      "options (--name value or --name=value):\n%s"
      "\n"
      "signals: SIGTERM/SIGINT drain and stop; SIGHUP reopens the logs and rereads the configuration.\n",
      OptionsHelp(kServeOptions).c_str());
}

// False with `error` for a command line this command cannot run.
bool ParseArgs(int argc, char** argv, CommandLine& cl, bool& help, std::string& error) {
  ParsedArgs args;
  if (!ParseOptions(argc, argv, kServeOptions, args, error)) return false;
  help = args.help;
  if (!args.positional.empty()) {
    error = "unexpected argument " + args.positional.front();
    return false;
  }
  for (const auto& [name, value] : args.options) {
    if (name == "--root") cl.root = value;
    else if (name == "--listen") cl.listen = value;
    else if (name == "--registry") cl.registry = value;
    else if (name == "--config") cl.configFile = value;
    else if (name == "--access-log") cl.accessLog = value;
  }
  return true;
}

// Points standard error (the server's log) at `path` ("" leaves it as it is);
// false with `error` when the file cannot be opened.
bool OpenLog(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd < 0) {
    error = path + ": cannot open the log file: " + std::strerror(errno);
    return false;
  }
  std::fflush(stderr);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
  return true;
}

// SIGHUP: the log file reopened (after rotation), the configuration reread.
// Settings bound at start (listen, io_threads, root, registry, drives,
// default_code_page, pam_service) keep their values; a change to them is
// logged. A configuration that does not parse leaves the current one.
void Reload(HttpServer& server, const CommandLine& cl, HostConfig& current) {
  HostConfig next;
  try {
    cl.ApplyTo(next);
    if (next.root.empty()) next.root = current.root;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane: reload refused, the configuration stays: %s\n", e.what());
    return;
  }
  std::string error;
  if (!OpenLog(next.logFile, error)) std::fprintf(stderr, "torvane: %s\n", error.c_str());
  std::string kept;
  auto keep = [&](const char* key, bool changed) {
    if (changed) kept += std::string(kept.empty() ? "" : ", ") + key;
  };
  keep("listen", next.listenHost != current.listenHost || next.listenPort != current.listenPort);
  keep("io_threads", next.ioThreads != current.ioThreads);
  keep("root", next.root != current.root);
  keep("registry", next.registry != current.registry);
  keep("drives", next.drives != current.drives);
  keep("default_code_page", next.defaultCodePage != current.defaultCodePage);
  keep("pam_service", next.pamService != current.pamService);
  next.listenHost = current.listenHost;
  next.listenPort = current.listenPort;
  next.ioThreads = current.ioThreads;
  next.root = current.root;
  next.registry = current.registry;
  next.drives = current.drives;
  next.defaultCodePage = current.defaultCodePage;
  next.pamService = current.pamService;
  server.Reload(next);
  current = next;
  std::fprintf(stderr, "torvane: configuration reloaded%s\n",
               kept.empty() ? "" : ("; a restart is needed for: " + kept).c_str());
}

// Keeps the memory a page frees for the next page instead of handing it back
// to the kernel after every request. glibc's defaults trim a thread's heap
// once more than 128 KiB to 32 MiB lies free at its top (the bound moves with
// the blocks it has seen), so a worker that allocates a few hundred KiB per
// page (the upload parser's buffer, the body's reads) gave them back after
// each page and faulted them in again on the next: about three page faults
// (each a freshly zeroed page) per small upload at 16 clients, when a
// worker's heap often empties between pages. Fixed bounds stop that: up to 8 MiB
// free stays in each heap, blocks of 1 MiB and more are mapped on their own
// (a 1 GiB upload's large reads still go back whole when freed). Malloc
// settings given in the environment (GLIBC_TUNABLES, MALLOC_*_) win.
void KeepFreedMemory() {
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables && std::strstr(tunables, "glibc.malloc.")) return;
  if (std::getenv("MALLOC_TRIM_THRESHOLD_") || std::getenv("MALLOC_MMAP_THRESHOLD_")) return;
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 8 << 20);
}

}  // namespace

int ServeCommand(int argc, char** argv) {
  HostConfig config;
  try {
    std::string error;
    CommandLine cl;
    bool help = false;
    if (!ParseArgs(argc, argv, cl, help, error)) return UsageError("serve", error);
    if (help) {
      ServeHelp();
      return 0;
    }
    // The configuration file first; command-line options override it.
    cl.ApplyTo(config);
    if (config.root.empty()) config.root = DefaultSiteRoot();
    if (config.root.empty()) throw std::runtime_error("no site root: give --root DIR");
    CheckSiteRoot(config.root);
    ApplyProcessSettings(config);
    KeepFreedMemory();
    auto site = std::make_shared<Site>(config.root);
    site->scriptTimeout = config.scriptTimeout;
    site->noPages = config.noPages;
    site->errorPage = config.errorPage;
    ApplyStateStore(*site, config);
    site->sessionSettings.cookieName = config.sessionCookie;

    if (!OpenLog(config.logFile, error)) throw std::runtime_error(error);

    // A dedicated thread waits for SIGINT / SIGTERM (drain and stop) and SIGHUP (reload).
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    HttpServer server(config, site);
    uint16_t port = server.Listen();
    std::string host = config.listenHost.find(':') != std::string::npos ? "[" + config.listenHost + "]" : config.listenHost;
    std::printf("torvane: serving %s on http://%s:%u/\n", site->root.c_str(), host.c_str(), port);
    std::fflush(stdout);

    std::thread waiter([&server, &config, cl, signals] {
      while (true) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0) continue;
        if (sig == SIGHUP) {
          Reload(server, cl, config);
          continue;
        }
        std::fprintf(stderr, "torvane: stopping (signal %d): %d request(s) in flight, grace period %d seconds\n", sig,
                     server.RequestsInFlight(), config.gracePeriod);
        server.Drain(config.gracePeriod);
        std::fprintf(stderr, "torvane: stopped\n");
        server.Stop();
        return;
      }
    });
    server.Run();
    // The drain has ended every request it could; the process ends now.
    if (waiter.joinable()) waiter.join();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane serve: %s\n", e.what());
    return 1;
  }
}

}  // namespace torvane::cli
