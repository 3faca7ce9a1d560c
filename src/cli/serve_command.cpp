// torvane serve: the web host on a site folder.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "server/config.h"
#include "server/http_server.h"

namespace torvane::cli {

namespace {

using namespace torvane::server;

bool ParseArgs(int argc, char** argv, HostConfig& config, std::string& error) {
  std::string configFile, root, listen, registry;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) -> bool {
      if (i + 1 >= argc) {
        error = a + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--root") ok = value(root);
    else if (a == "--listen") ok = value(listen);
    else if (a == "--registry") ok = value(registry);
    else if (a == "--config") ok = value(configFile);
    else {
      error = "unknown argument " + a;
      return false;
    }
    if (!ok) return false;
  }
  // The configuration file first; command-line options override it.
  if (!configFile.empty()) LoadConfigFile(configFile, config);
  if (!root.empty()) config.root = root;
  if (!listen.empty()) ParseListen(listen, config);
  if (!registry.empty()) config.registry = registry;
  return true;
}

}  // namespace

int ServeCommand(int argc, char** argv) {
  HostConfig config;
  try {
    std::string error;
    if (!ParseArgs(argc, argv, config, error)) {
      std::fprintf(stderr, "torvane serve: %s\n", error.c_str());
      return 2;
    }
    if (config.root.empty()) config.root = DefaultSiteRoot();
    if (config.root.empty()) throw std::runtime_error("no site root: give --root DIR");
    ApplyProcessSettings(config);
    auto site = std::make_shared<Site>(config.root);
    site->scriptTimeout = config.scriptTimeout;
    site->noPages = config.noPages;

    // SIGINT / SIGTERM stop the server; a dedicated thread waits for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    HttpServer server(config, site);
    uint16_t port = server.Listen();
    std::string host = config.listenHost.find(':') != std::string::npos ? "[" + config.listenHost + "]" : config.listenHost;
    std::printf("torvane: serving %s on http://%s:%u/\n", site->root.c_str(), host.c_str(), port);
    std::fflush(stdout);

    std::thread waiter([&server, signals] {
      int sig = 0;
      sigwait(&signals, &sig);
      std::fprintf(stderr, "torvane: stopping (signal %d)\n", sig);
      server.Stop();
    });
    server.Run();
    // Pages still running cannot be interrupted safely; the process ends now.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane serve: %s\n", e.what());
    return 1;
  }
}

}  // namespace torvane::cli
