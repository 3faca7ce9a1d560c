// HostServer: the Server host object of one page.
//
// MapPath maps virtual paths under the site root (relative ones from the page's
// folder) to DOS-form physical paths and refuses paths that leave the root.
// CreateObject creates a component object by ProgID and calls its OnStartPage,
// as the page host does for objects a page creates through Server.
#pragma once

#include <string>

#include "host/host.h"

namespace torvane::server {

class HostServer : public Server {
 public:
  HostServer(std::string siteRoot, std::string pageDir) : siteRoot_(std::move(siteRoot)), pageDir_(std::move(pageDir)) {}
  std::string MapPath(std::string_view path) override;
  ObjectRef CreateObject(std::string_view progid) override;
  std::string HTMLEncode(std::string_view text) override;
  std::string URLEncode(std::string_view text) override;

 private:
  std::string siteRoot_;
  std::string pageDir_;
};

}  // namespace torvane::server
