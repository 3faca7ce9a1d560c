// HostServer: the Server host object of one page.
//
// MapPath maps virtual paths under the site root (relative ones from the page's
// folder) to DOS-form physical paths and refuses paths that leave the root.
// CreateObject creates a component object by ProgID and calls its OnStartPage,
// as the page host does for objects a page creates through Server. PagesRunIn
// tells the component which folders hold pages (page_folders.h).
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace torvane::server {

class HostServer : public Server {
 public:
  HostServer(std::string siteRoot, std::string pageDir, std::vector<std::string> noPages = {})
      : siteRoot_(std::move(siteRoot)), pageDir_(std::move(pageDir)), noPages_(std::move(noPages)) {}
  std::string MapPath(std::string_view path) override;
  ObjectRef CreateObject(std::string_view progid) override;
  std::string HTMLEncode(std::string_view text) override;
  std::string URLEncode(std::string_view text) override;
  // Pages run in every folder of the site but dot folders and `no_pages` ones.
  bool PagesRunIn(std::string_view physicalFolder) override;

 private:
  std::string siteRoot_;
  std::string pageDir_;
  std::vector<std::string> noPages_;
};

}  // namespace torvane::server
