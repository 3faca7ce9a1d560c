// Running one page request: the part shared by `torvane serve` and `torvane run`.
//
// A Site holds what all pages of one site share: its root, its application
// store and its compiled-page cache. RunPage compiles (or takes from the cache)
// the page, makes the page's object context current on the calling thread,
// runs it on the thread's script engine and finishes the response. Whatever the
// page did, at its end the application lock is released if it held it, the
// thread's identity is restored and the thread's script context is cleared.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "server/application_store.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/page_clock.h"
#include "server/page_compiler.h"
#include "server/script_engine.h"
#include "server/session_store.h"

namespace torvane::server {

struct Site {
  explicit Site(std::string rootDir);
  std::string root;  // absolute Linux directory, no trailing "/"
  std::shared_ptr<ApplicationStore> application = std::make_shared<ApplicationStore>();
  PageCache cache;
  double scriptTimeout = 90;  // processor seconds per page (0: no limit)
  std::vector<std::string> noPages;  // virtual folders where pages never run (page_folders.h)
  // The page run in place of the built-in error answer when a page fails
  // before its output has begun ("": none); it reads the failure through
  // Server.GetLastError().
  std::string errorPage;
  // The site's sessions (Session) and their cookie's name.
  std::shared_ptr<SessionStore> sessions = std::make_shared<SessionStore>();
  SessionSettings sessionSettings;
};

// What a page run ended with (for logs and tests).
struct PageOutcome {
  ScriptResult script;
  bool compileFailed = false;
  std::string compileMessage;
};

// The limits of one page run beyond the site's script_timeout.
struct PageLimits {
  double cpuSeconds = -1;      // processor seconds; below 0: the site's scriptTimeout
  int64_t memoryBytes = 0;     // the script heap's limit (0: none)
  PageClock clock;             // wall-clock deadline and the server's stop
};

// A page whose script heap held more than this gives its memory back when it
// ends: the thread's script heap is made anew and the allocator's free memory
// is returned to the system, so resident memory goes back near its baseline.
constexpr int64_t kLargePageBytes = 16 << 20;

// Gives back what the calling thread's pages keep between them: its script
// heap (made anew by the next page) and the allocator's free memory.
void ReleaseThreadMemory();

// Runs the page at `virtualPath` (an existing .asp file under the site root)
// and finishes `response`. Never throws.
PageOutcome RunPage(Site& site, const std::string& virtualPath, std::shared_ptr<HttpRequest> request,
                    std::shared_ptr<HttpResponse> response, const PageLimits& limits = PageLimits());

// The body of the 500 answer for a failed page: number, description, source,
// page and line, HTML-escaped.
std::string ErrorPageHtml(const ScriptResult& r);

// The virtual folder of a virtual path ("/a/b.asp" -> "/a/").
std::string VirtualFolder(const std::string& virtualPath);

}  // namespace torvane::server
