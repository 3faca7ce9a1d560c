// Host configuration: the settings of `torvane serve` and `torvane run`.
//
// A configuration file is plain text, one "key = value" per line; blank lines
// and lines starting with "#" are ignored; keys are case-insensitive. Every key
// has a default (HostConfig's initialisers), so an empty file is valid. Unknown
// keys, keys given twice and malformed values fail with a message naming the
// file and line, so a typo never silently keeps a default. Sizes in bytes take
// a K, M or G suffix (1024, 1024^2, 1024^3). Relative paths of a file (root,
// access_log, error_template) are taken relative to the file's folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::server {

struct HostConfig {
  std::string listenHost = "127.0.0.1";  // listen = HOST:PORT
  uint16_t listenPort = 8080;            // port 0 picks a free port
  std::string root;                      // site root; "" = the bundled demo site
  std::string registry;                  // "" = TORVANE_REGISTRY, else /etc/torvane/registry.reg
  std::string drives = "C=/";            // drive table: letter=directory, comma-separated
  int defaultCodePage = 65001;           // code page 0 of the upload engine
  int workers = 16;                      // page worker threads
  int ioThreads = 1;                     // threads reading requests and serving static files
  int queueLimit = 256;                  // pages waiting for a worker before 503
  int64_t maxRequestBytes = 2147483648;  // request body limit (413 above it)
  int64_t maxHeaderBytes = 16384;        // request line + headers limit (431 above it)
  int64_t responseBufferBytes = 4194304; // buffered page output sent early beyond this
  int headerTimeout = 10;                // seconds to receive a request's headers
  int readTimeout = 30;                  // seconds a body read may wait for the client
  int writeTimeout = 30;                 // seconds a write may wait for the client
  int keepAliveTimeout = 15;             // seconds an idle connection stays open
  int scriptTimeout = 90;                // seconds of processor time a page may use (0: no limit)
  std::string pamService = "torvane";    // PAM service of impersonation
  int64_t minReadRate = 1024;            // bytes/s a client must send its body at, over rate_window (0: any)
  int64_t minWriteRate = 1024;           // bytes/s a client must take its answer at, over rate_window (0: any)
  int rateWindow = 30;                   // seconds of waiting for the client the minimum rates average over
  int readDeadline = 3600;               // seconds the whole body may take (0: no limit)
  int writeDeadline = 3600;              // seconds a whole answer may take to leave (0: no limit)
  int pageDeadline = 3600;               // seconds of wall-clock time a page may run (0: no limit)
  int64_t pageMemoryLimit = 268435456;   // bytes a page's script heap may hold (0: no limit)
  int gracePeriod = 30;                  // seconds requests in flight get to finish after SIGTERM
  int pageThreads = 512;                 // page threads at most, counting pages waiting for their client
  std::string logFile;                   // the server's log ("": standard error); reopened on SIGHUP
  std::vector<std::string> noPages;      // virtual folders where .asp files never run (404)
  std::string errorPage;                 // custom error page run when a page fails ("": the built-in one)
  std::string sessionCookie = "TVSESSIONID";  // the session cookie's name
  int sessionTimeout = 20;               // minutes a session lives unused
  int64_t sessionMax = 100000;           // live sessions the server holds at most
  std::vector<std::string> trustedProxies;  // addresses whose X-Forwarded-For / -Proto are believed
  std::string stateStore = "memory";     // sessions, Application, progress: "memory" or redis://HOST:PORT/DB
  int stateStoreTimeout = 2000;          // milliseconds a state store connect or command may take
  // Defaults of every Post's request limits (0: no limit).
  int32_t uploadMaxFiles = 1000;                  // files one request may create
  int32_t uploadMaxParts = 10000;                 // parts (files and fields) of one request
  int64_t uploadMaxFieldSize = 1048576;           // bytes of one ordinary field
  int64_t uploadMaxTotalFieldSize = 16777216;     // bytes of all ordinary fields of one request
  std::string accessLog = "off";  // access log: a file, "-" for standard output, "off" for none; reopened on SIGHUP
  std::string errorTemplate;      // HTML template of the host's own error answers ("": the built-in page)
  std::string staticCharset = "utf-8";  // charset added to text types of static files ("": none)
};

// Applies the text of a configuration file to `config`; `name` is used in
// messages. Throws std::runtime_error("NAME:LINE: ...") on a bad line.
void ParseConfigText(std::string_view text, std::string_view name, HostConfig& config);

// Reads and applies a configuration file; throws std::runtime_error when it
// cannot be read or has a bad line.
void LoadConfigFile(const std::string& path, HostConfig& config);

// Parses "HOST:PORT" (or "[v6]:PORT", or ":PORT" for 127.0.0.1) into the
// config; throws std::runtime_error on a bad value.
void ParseListen(std::string_view value, HostConfig& config);

// Throws std::runtime_error naming `root` when it does not exist or is not a
// folder: a server on a missing site would answer 404 to everything.
void CheckSiteRoot(const std::string& root);

// Installs the process-wide parts of the configuration: registry file (the
// configured one, else TORVANE_REGISTRY, else the default), drive table and
// component settings (default code page, PAM service).
void ApplyProcessSettings(const HostConfig& config);

// The bundled demo site: TORVANE_SITE when set, else examples/site beside the
// executable's build folder, else the installed share folder; "" when none exists.
std::string DefaultSiteRoot();

}  // namespace torvane::server
