// The text escapers: HTML (Server.HTMLEncode, the host's own pages), URL
// (Server.URLEncode) and XML element content (every ToXML).
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// <, >, & and " become entities; every other byte stays.
std::string HtmlEncode(std::string_view text);

// ASCII letters, digits and "-_.*" stay, a blank becomes "+", every other byte
// %XX (upper-case hex).
std::string UrlEncode(std::string_view text);

// Element content: &, < and > become entities; every character XML 1.0 cannot
// carry (control characters other than tab, line feed and carriage return,
// U+FFFE, U+FFFF, and stray bytes that are not UTF-8) becomes U+FFFD, so the
// document always parses.
std::string XmlEscape(std::string_view text);

}  // namespace torvane
