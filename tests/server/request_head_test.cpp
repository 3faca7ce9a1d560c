// Request framing: Transfer-Encoding values that leave a body's length unknown
// are refused (400), unknown codings are not implemented (501).
#include "server/request_head.h"

#include <gtest/gtest.h>

namespace torvane::server {
namespace {

TEST(RequestHead, TransferEncodingMustEndInOneChunked) {
  struct Case {
    bool present;
    const char* codings;
    unsigned version;
    int status;
  } cases[] = {
      {false, "", 11, 0},
      {true, "chunked", 11, 0},
      {true, "Chunked", 11, 0},
      {true, "gzip, chunked", 11, 0},
      {true, " gzip ,, chunked ", 11, 0},
      {true, "gzip", 11, 400},
      {true, "chunked, gzip", 11, 400},
      {true, "chunked, chunked", 11, 400},
      {true, "", 11, 400},
      {true, " , ", 11, 400},
      {true, "chunked", 10, 400},  // HTTP/1.0 knows no transfer codings
      {true, "xchunked", 11, 501},
      {true, "chunked;ext=1", 11, 501},
      {true, "identity", 11, 501},
      {true, "gzip, br, chunked", 11, 501},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TransferEncodingStatus(c.present, c.codings, c.version), c.status) << "[" << c.codings << "] " << c.version;
}

}  // namespace
}  // namespace torvane::server
