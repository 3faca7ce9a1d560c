// The HTTP request head and the body framing of `torvane serve`: the bytes
// go through the same header parser, framing check, path decoding and site
// mapping as a connection's, then the body through a BodyReader read in
// pieces of every size. Oracles: a mapped file lies inside the site root and
// is never a dot name or include file; the body delivered is exactly the
// declared length's prefix of what followed the head (or all of it, shorter,
// and then the reader says it was cut short).
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdint>
#include <fstream>
#include <limits>

#include "fuzz_common.h"
#include "server/body_reader.h"
#include "server/request_head.h"
#include "server/site_path.h"

namespace http = boost::beast::http;
using namespace torvane;

namespace {

const std::string& Site() {
  static const std::string root = [] {
    auto dir = fuzz::Scratch() / "site";
    std::filesystem::create_directories(dir / "sub");
    std::filesystem::create_directories(dir / ".hidden");
    std::ofstream(dir / "index.html") << "home";
    std::ofstream(dir / "page.asp") << "<%= 1 %>";
    std::ofstream(dir / "sub" / "a.txt") << "a";
    std::ofstream(dir / "lib.inc") << "secret";
    std::ofstream(dir / ".hidden" / "k.txt") << "secret";
    std::error_code ec;
    std::filesystem::create_symlink("lib.inc", dir / "x.txt", ec);
    std::filesystem::create_symlink("/etc", dir / "out", ec);
    return std::filesystem::canonical(dir).string();
  }();
  return root;
}

void CheckTarget(const server::Target& t) {
  if (t.kind != server::TargetKind::Page && t.kind != server::TargetKind::File) return;
  const std::string& root = Site();
  if (t.nativePath.compare(0, root.size() + 1, root + "/") != 0) fuzz::Fail("a mapped file lies outside the site");
  std::string inSite = t.nativePath.substr(root.size());
  if (inSite.find("/.") != std::string::npos) fuzz::Fail("a dot name was mapped");
  if (inSite.size() >= 4 && inSite.compare(inSite.size() - 4, 4, ".inc") == 0) fuzz::Fail("an include file was mapped");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  size_t piece = 1 + in.Below(70000);
  std::string bytes = in.Rest();
  http::request_parser<http::empty_body> parser;
  parser.header_limit(16384);
  parser.body_limit((std::numeric_limits<std::uint64_t>::max)());
  parser.eager(false);
  boost::beast::error_code ec;
  size_t used = parser.put(boost::asio::buffer(bytes.data(), bytes.size()), ec);
  if (ec || !parser.is_header_done()) return 0;
  auto& req = parser.get();
  std::string codings;
  bool present = false;
  for (const auto& f : req) {
    if (f.name() != http::field::transfer_encoding) continue;
    if (present) codings += ',';
    codings.append(f.value().data(), f.value().size());
    present = true;
  }
  int status = server::TransferEncodingStatus(present, codings, req.version());
  if (status != 0 && status != 400 && status != 501) fuzz::Fail("an unexpected framing status");
  if (status == 0 && present && !parser.chunked()) fuzz::Fail("accepted codings the parser does not frame as chunked");
  std::string_view target(req.target().data(), req.target().size());
  std::string path;
  if (server::DecodeRequestPath(target.substr(0, target.find('?')), path)) CheckTarget(server::ResolveTarget(Site(), path));

  if (status != 0 || parser.chunked()) return 0;
  auto length = parser.content_length();
  int64_t declared = length ? static_cast<int64_t>(std::min<uint64_t>(*length, uint64_t{1} << 40)) : 0;
  std::string rest = bytes.substr(used);
  size_t pos = 0;
  server::BodyReader body(declared, [&](uint8_t* out, size_t max) {
    size_t n = std::min({max, piece, rest.size() - pos});
    if (n > 0) std::memcpy(out, rest.data() + pos, n);
    pos += n;
    return n;
  }, 4096);
  std::vector<uint8_t> got;
  while (body.Remaining() > 0 && !body.Truncated()) {
    size_t before = got.size();
    body.Read(1 + static_cast<int64_t>(in.Below(9000)), got);
    if (got.size() == before && !body.Truncated()) fuzz::Fail("a read returned nothing before the body's end");
  }
  size_t expect = static_cast<size_t>(std::min<int64_t>(declared, static_cast<int64_t>(rest.size())));
  if (got.size() != expect || (expect > 0 && std::memcmp(got.data(), rest.data(), expect) != 0)) fuzz::Fail("the body delivered differs");
  if ((static_cast<int64_t>(rest.size()) < declared) != body.Truncated()) fuzz::Fail("a short body was not reported");
  if (pos > static_cast<size_t>(declared)) fuzz::Fail("the reader took bytes past the body");
  return 0;
}
