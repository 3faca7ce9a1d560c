#include "server/error_page.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "basics/escape.h"

namespace torvane::server {

const std::string& BuiltInErrorTemplate() {
  static const std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>{{status}} {{reason}}</title>\n<style>\n"
      "body{margin:0;font:16px/1.5 system-ui,-apple-system,\"Segoe UI\",Roboto,sans-serif;color:#1d2330;background:#f4f6fa}\n"
      "main{max-width:36rem;margin:12vh auto 0;padding:2rem 1.5rem;background:#fff;border:1px solid #dde2ea;border-radius:.5rem}\n"
      "p.code{margin:0;color:#b3261e;font-weight:700;font-size:2.4rem;line-height:1}\n"
      "h1{font-size:1.4rem;margin:.4rem 0 .8rem}\np{margin:.5rem 0;overflow-wrap:anywhere}\n"
      "a{color:#2f5fa7}\n</style>\n</head>\n<body>\n<main>\n"
      "<p class=\"code\">{{status}}</p>\n<h1>{{reason}}</h1>\n<p>{{message}}</p>\n"
      "<p><a href=\"/\">Go to the start page</a></p>\n</main>\n</body>\n</html>\n";
  return page;
}

std::string LoadErrorTemplate(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read the error page template");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string RenderErrorPage(std::string_view templ, int status, std::string_view reason, std::string_view message) {
  std::string out;
  out.reserve(templ.size() + message.size());
  size_t pos = 0;
  while (pos < templ.size()) {
    size_t open = templ.find("{{", pos);
    if (open == std::string_view::npos) break;
    size_t close = templ.find("}}", open + 2);
    if (close == std::string_view::npos) break;
    std::string_view name = templ.substr(open + 2, close - open - 2);
    out.append(templ.substr(pos, open - pos));
    if (name == "status") out += std::to_string(status);
    else if (name == "reason") out += HtmlEncode(reason);
    else if (name == "message") out += HtmlEncode(message);
    else out.append(templ.substr(open, close + 2 - open));  // not a placeholder: kept as written
    pos = close + 2;
  }
  out.append(templ.substr(pos));
  return out;
}

}  // namespace torvane::server
