// The access-log and error-log lines, and the host's error pages.
#include "server/request_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/error_page.h"

namespace torvane::server {
namespace {

LoggedRequest Sample() {
  LoggedRequest r;
  r.client = "192.0.2.7";
  r.start = std::chrono::system_clock::from_time_t(1765386000);  // 2025-12-10 17:00:00 UTC
  r.method = "POST";
  r.target = "/received.asp?id=7";
  r.status = 200;
  r.bytes = 5120;
  r.referer = "http://example.com/upload.asp";
  r.userAgent = "Mozilla/5.0";
  r.seconds = 1.23456;
  return r;
}

TEST(AccessLogLine, CombinedFormatWithDuration) {
  EXPECT_EQ(AccessLogLine(Sample()),
            "192.0.2.7 - - [10/Dec/2025:17:00:00 +0000] \"POST /received.asp?id=7 HTTP/1.1\" 200 5120 "
            "\"http://example.com/upload.asp\" \"Mozilla/5.0\" 1.235");
}

TEST(AccessLogLine, EmptyFieldsAreDashes) {
  LoggedRequest r = Sample();
  r.bytes = 0;
  r.referer.clear();
  r.userAgent.clear();
  r.method.clear();  // a request line that could not be read
  r.status = 400;
  r.seconds = 0;
  EXPECT_EQ(AccessLogLine(r), "192.0.2.7 - - [10/Dec/2025:17:00:00 +0000] \"-\" 400 - \"-\" \"-\" 0.000");
}

TEST(AccessLogLine, QuotesAndControlBytesCannotBreakTheLine) {
  LoggedRequest r = Sample();
  r.userAgent = "evil\" 200 1 \"x\nnext line\\";
  r.target = "/a.asp?q=\x01";
  std::string line = AccessLogLine(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find("\"evil\\x22 200 1 \\x22x\\x0Anext line\\x5C\""), std::string::npos) << line;
  EXPECT_NE(line.find("/a.asp?q=\\x01 HTTP/1.1"), std::string::npos) << line;
}

TEST(AccessLogLine, TextAPageAddedComesLast) {
  LoggedRequest r = Sample();
  r.appended = "user=ann";
  std::string line = AccessLogLine(r);
  EXPECT_EQ(line.substr(line.size() - 16), "1.235 \"user=ann\"");
}

TEST(ErrorLogLine, TimeClientMethodPathStatusAndMessage) {
  LoggedRequest r = Sample();
  r.status = 413;
  EXPECT_EQ(ErrorLogLine(r, "The request body is larger than 10 bytes.\n"),
            "[2025-12-10 17:00:00] error 413 client 192.0.2.7 POST /received.asp: The request body is larger than 10 bytes.");
  r.method.clear();
  r.target.clear();
  EXPECT_EQ(ErrorLogLine(r, "Malformed\r\nrequest"), "[2025-12-10 17:00:00] error 413 client 192.0.2.7 - -: Malformed  request");
}

TEST(LogSink, WritesWholeLinesAndReopens) {
  namespace fs = std::filesystem;
  fs::path path = fs::temp_directory_path() / ("tv-access-" + std::to_string(::getpid()) + ".log");
  fs::remove(path);
  LogSink sink;
  EXPECT_FALSE(sink.Enabled());
  sink.Write("dropped while off");
  sink.Open(path.string());
  EXPECT_TRUE(sink.Enabled());
  sink.Write("one");
  fs::rename(path, path.string() + ".1");  // rotated away
  sink.Open(path.string());
  sink.Write("two");
  auto read = [](const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  EXPECT_EQ(read(path.string() + ".1"), "one\n");
  EXPECT_EQ(read(path), "two\n");
  sink.Open("off");
  EXPECT_FALSE(sink.Enabled());
  EXPECT_THROW(sink.Open("/nonexistent-folder/x.log"), std::runtime_error);
  fs::remove(path);
  fs::remove(path.string() + ".1");
}

TEST(ErrorPage, PlaceholdersAreFilledAndEscaped) {
  EXPECT_EQ(RenderErrorPage("<h1>{{status}} {{reason}}</h1><p>{{message}}</p>{{other}}{{", 404, "Not Found",
                            "No <script> & \"quotes\""),
            "<h1>404 Not Found</h1><p>No &lt;script&gt; &amp; &quot;quotes&quot;</p>{{other}}{{");
  std::string page = RenderErrorPage(BuiltInErrorTemplate(), 413, "Payload Too Large", "Too big.");
  EXPECT_NE(page.find("<title>413 Payload Too Large</title>"), std::string::npos);
  EXPECT_NE(page.find("name=\"viewport\""), std::string::npos);
  EXPECT_NE(page.find("<p>Too big.</p>"), std::string::npos);
  EXPECT_EQ(page.find("{{"), std::string::npos);
}

}  // namespace
}  // namespace torvane::server
