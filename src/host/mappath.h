// Server.MapPath for every host: a virtual path of the site to the DOS-form
// physical path, never leaving the site root.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// siteRoot: the Linux directory of the site. pageDir: the virtual folder of the
// running page ("/" or "/sub/"). `path` may use "/" or "\"; relative paths are
// taken from pageDir. "." and ".." are resolved; a result outside the root fails
// with error 0x80004005 (-2147467259) and a text naming the path.
// The result has no trailing separator (the site root itself maps to its folder).
std::string MapVirtualPath(std::string_view siteRoot, std::string_view pageDir, std::string_view path);

// Resolves "." and ".." in a virtual path ("/" or "\\" separators): "/a/b" form,
// "/" for the root, "" when the path climbs above the root.
std::string NormaliseVirtualPath(std::string_view path);

// The Linux path of a virtual path under the site root (same rules), for hosts
// that serve files; "" when the path leaves the root.
std::string VirtualToNative(std::string_view siteRoot, std::string_view virtualPath);

}  // namespace torvane
