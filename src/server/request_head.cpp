#include "server/request_head.h"

#include <cctype>
#include <string>

#include "basics/ascii.h"

namespace torvane::server {

namespace {

bool KnownCoding(const std::string& c) {
  return c == "chunked" || c == "gzip" || c == "x-gzip" || c == "deflate" || c == "compress" || c == "x-compress";
}

}  // namespace

int TransferEncodingStatus(bool present, std::string_view codings, unsigned httpVersion) {
  if (!present) return 0;
  int chunked = 0;
  bool lastChunked = false, any = false, unknown = false;
  size_t pos = 0;
  while (pos <= codings.size()) {
    size_t comma = codings.find(',', pos);
    std::string_view item = TrimBlanks(codings.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    pos = comma == std::string_view::npos ? codings.size() + 1 : comma + 1;
    if (item.empty()) continue;  // empty list elements are allowed and mean nothing
    any = true;
    std::string name = AsciiLower(item);
    if (!KnownCoding(name)) unknown = true;
    lastChunked = name == "chunked";
    if (lastChunked) ++chunked;
  }
  if (unknown) return 501;
  if (httpVersion < 11 || !any || !lastChunked || chunked != 1) return 400;
  return 0;
}

}  // namespace torvane::server
