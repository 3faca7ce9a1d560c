// Where pages run: every folder of the site except dot folders (never served
// at all) and the folders of the `no_pages` setting, where a .asp file is
// answered with 404 like an include file. Uploads kept in such a folder can
// never run as pages.
//
// Both the virtual path and the real place decide: a page runs only when the
// folder it was requested from and the folder it really lies in (after links)
// are both folders where pages run, so a link cannot carry a stored file out
// of a no-pages folder into a running one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvane::server {

// Parses the `no_pages` value: virtual folders of the site separated by
// spaces or commas ("/uploads/ /files/"). Each is normalised ("/uploads");
// throws std::runtime_error naming a folder that does not start with "/" or
// that leaves the site.
std::vector<std::string> ParseNoPages(std::string_view value);

// True when pages run in the folder at the Linux path `nativeFolder` (which
// need not exist yet): it lies below the site root after links, no folder
// between the root and it starts with ".", and it is not at or below a
// `noPages` folder (compared by their real places as well as by name).
bool PagesRunInFolder(const std::string& siteRoot, const std::vector<std::string>& noPages,
                      const std::string& nativeFolder);

// True when the page requested as `virtualPath`, found at the real Linux file
// `nativeFile` (its canonical path, as ResolveTarget gives it), may run: neither its virtual folder nor its real folder is one
// where pages do not run.
bool PageMayRun(const std::string& siteRoot, const std::vector<std::string>& noPages, const std::string& virtualPath,
                const std::string& nativeFile);

}  // namespace torvane::server
