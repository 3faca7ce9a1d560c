// Mapping a request path onto the site: page, static file, folder or nothing.
//
// The path is percent-decoded once; "." and ".." are resolved and a path that
// would climb above the root is not found. The file found must also lie under
// the root after symbolic links are followed. A folder requested without its
// trailing "/" is redirected; a folder with it is served by its first default
// document (default.asp, index.asp, index.html, index.htm, default.htm).
// Include files (.inc) and names starting with "." are never served, neither
// by their own name nor through a link to them; a static file's name that
// leads to a page is not served either (it would send the page's source).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "basics/fdio.h"

namespace torvane::server {

enum class TargetKind { NotFound, Page, File, RedirectToFolder };

struct Target {
  TargetKind kind = TargetKind::NotFound;
  std::string virtualPath;  // normalised, e.g. "/sub/default.asp"
  std::string nativePath;   // the Linux file
  // A File target's file, when it was opened while its path was resolved
  // (read-only, non-blocking); null otherwise.
  std::shared_ptr<UniqueFd> file;
};

// Decodes a request path's %XX escapes (not "+"); false for an invalid escape,
// a NUL byte or a path not starting with "/".
bool DecodeRequestPath(std::string_view raw, std::string& out);

Target ResolveTarget(const std::string& siteRoot, const std::string& decodedPath);

// The canonical path of a site root, looked up once per root and remembered
// (a root rarely moves); "" when it does not exist.
std::string CanonicalRoot(const std::string& root);

// The MIME type of a file name by its extension (registry file, then the
// system's MIME data); "application/octet-stream" when unknown.
std::string MimeTypeFor(const std::string& fileName);

}  // namespace torvane::server
