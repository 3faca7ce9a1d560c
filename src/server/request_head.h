// Checks of a request head that decide how its body is framed.
//
// A Transfer-Encoding that does not end in exactly one "chunked" leaves the
// body's length unknown: a server that guessed (an empty body, say) would read
// the body as the next request, which is how requests are smuggled past a
// proxy. Such a request is answered 400 and the connection closed; a coding
// the server does not know is answered 501.
#pragma once

#include <string_view>

namespace torvane::server {

// The status to answer for a request whose Transfer-Encoding header values,
// joined with ",", are `codings` (`present`: the header was there at all);
// 0 when the framing is sound (no Transfer-Encoding, or codings ending in
// one "chunked"). `httpVersion` is 10 or 11: an HTTP/1.0 request with a
// Transfer-Encoding is faulty framing (400).
int TransferEncodingStatus(bool present, std::string_view codings, unsigned httpVersion);

}  // namespace torvane::server
