// HostServer: the Server host object of one page.
//
// MapPath maps virtual paths under the site root (relative ones from the page's
// folder) to DOS-form physical paths and refuses paths that leave the root.
// CreateObject is the interface's own (host/host_rules.cpp). PagesRunIn
// tells the component which folders hold pages (page_folders.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"

namespace torvane::server {

class HostServer : public Server {
 public:
  HostServer(std::string siteRoot, std::string pageDir, std::vector<std::string> noPages = {})
      : siteRoot_(std::move(siteRoot)), pageDir_(std::move(pageDir)), noPages_(std::move(noPages)) {}
  std::string MapPath(std::string_view path) override;
  std::string HTMLEncode(std::string_view text) override;
  std::string URLEncode(std::string_view text) override;
  // Pages run in every folder of the site but dot folders and `no_pages` ones.
  bool PagesRunIn(std::string_view physicalFolder) override;

  // Runs another page of the site inline with this page's Request and
  // Response (Server.Execute; Transfer ends the caller afterwards). Set by
  // the page runner; without one, Execute fails.
  using PageExecutor = std::function<void(const std::string& virtualPath)>;
  void SetExecutor(PageExecutor executor) { executor_ = std::move(executor); }
  // Resolves `path` (relative paths from the page's folder; a query string is
  // ignored) to a page of the site and runs it; -2147467259 when there is no
  // such page.
  void Execute(std::string_view path);

  // The failure a custom error page describes (Server.GetLastError).
  struct LastError {
    bool set = false;
    int32_t number = 0;
    std::string description, source, file, category;
    int line = 0;
  };
  const LastError& GetLastError() const { return lastError_; }
  void SetLastError(LastError e) { lastError_ = std::move(e); }

 private:
  PageExecutor executor_;
  LastError lastError_;
  std::string siteRoot_;
  std::string pageDir_;
  std::vector<std::string> noPages_;
};

}  // namespace torvane::server
