// The text encoders of Server.HTMLEncode and Server.URLEncode, shared by every host.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// <, >, & and " become entities; everything else stays.
std::string HtmlEncode(std::string_view text);
// Letters, digits and "-_.*" stay, a blank becomes "+", every other byte %XX.
std::string UrlEncode(std::string_view text);

}  // namespace torvane
