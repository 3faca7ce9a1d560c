// The static-file answer: its head, its body's place in the file, the
// charset rule and the static_charset setting.
#include "server/static_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "basics/http_conditional.h"
#include "basics/http_date.h"
#include "server/config.h"

namespace torvane::server {
namespace {

TEST(StaticFile, CharsetGoesOnTextTypesOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"text/plain", true},
      {"text/html", true},
      {"Text/CSS", true},
      {"application/javascript", true},
      {"application/json", true},
      {"application/xml", true},
      {"image/svg+xml", true},
      {"application/ld+json", true},
      {"text/html; charset=iso-8859-1", false},  // already named
      {"image/png", false},
      {"application/octet-stream", false},
      {"application/jsonx", false},
      {"textual/plain", false},
  };
  for (const auto& [type, text] : cases) EXPECT_EQ(IsCharsetType(type), text) << type;
}

TEST(StaticFile, StaticCharsetSetting) {
  HostConfig d;
  ParseConfigText("", "empty.conf", d);
  EXPECT_EQ(d.staticCharset, "utf-8");
  const std::pair<const char*, const char*> good[] = {{"static_charset = iso-8859-1", "iso-8859-1"},
                                                      {"static_charset =", ""}};
  for (const auto& [line, want] : good) {
    HostConfig c;
    ParseConfigText(line, "s.conf", c);
    EXPECT_EQ(c.staticCharset, want) << line;
  }
  for (const char* bad : {"static_charset = utf-8\"", "static_charset = utf 8", "static_charset = a;b=c"}) {
    HostConfig c;
    EXPECT_THROW(ParseConfigText(bad, "s.conf", c), std::runtime_error) << bad;
  }
}

class StaticAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tv_static_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/a.txt";
    content_.clear();
    for (int i = 0; i < 30000; ++i) content_.push_back(static_cast<char>('a' + i % 26));
    std::ofstream(path_, std::ios::binary) << content_;
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    mtime_ = st.st_mtime;
  }
  void TearDown() override {
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  StaticRequest Request() const {
    StaticRequest r;
    r.nativePath = path_;
    r.virtualPath = "/a.txt";
    r.keepAlive = true;
    return r;
  }
  std::string dir_, path_, content_;
  int64_t mtime_ = 0;
};

TEST_F(StaticAnswerTest, HeadCarriesTheValidatorsAndTheBodyFollows) {
  StaticAnswer a = PrepareStaticAnswer(Request());
  std::string tag = FileEntityTag(mtime_, 30000);
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.head.rfind("HTTP/1.1 200 OK\r\nServer: Torvane\r\nDate: ", 0), 0u) << a.head;
  std::string rest = "Content-Length: 30000\r\nLast-Modified: " + FormatHttpTime(mtime_) + "\r\nETag: " + tag +
                     "\r\nAccept-Ranges: bytes\r\n\r\n";
  ASSERT_GE(a.head.size(), rest.size());
  EXPECT_EQ(a.head.substr(a.head.size() - rest.size()), rest);
  EXPECT_EQ(a.bodyOffset, 0);
  EXPECT_EQ(a.bodyLength, 30000);  // larger than what travels inside the head
  EXPECT_GE(a.file.get(), 0);
}

TEST_F(StaticAnswerTest, SmallRangeTravelsInsideTheHead) {
  StaticRequest r = Request();
  r.range = "bytes=100-109";
  StaticAnswer a = PrepareStaticAnswer(r);
  EXPECT_EQ(a.status, 206);
  EXPECT_NE(a.head.find("\r\nContent-Range: bytes 100-109/30000\r\n"), std::string::npos);
  EXPECT_EQ(a.bodyLength, 0);
  EXPECT_EQ(a.bodyBytes, 10);
  EXPECT_EQ(a.head.substr(a.head.size() - 14), "\r\n\r\n" + content_.substr(100, 10));
}

TEST_F(StaticAnswerTest, LargeRangeStartsWhereTheRangeDoes) {
  StaticRequest r = Request();
  r.range = "bytes=-20000";
  StaticAnswer a = PrepareStaticAnswer(r);
  EXPECT_EQ(a.status, 206);
  EXPECT_EQ(a.bodyOffset, 10000);
  EXPECT_EQ(a.bodyLength, 20000);
}

TEST_F(StaticAnswerTest, NoBodyForHeadNotModifiedAndUnsatisfiable) {
  struct Case {
    const char* name;
    bool head;
    std::string ifNoneMatch, range;
    int status;
    const char* length;  // the Content-Length header, "" when there is none
  };
  const Case cases[] = {
      {"HEAD", true, "", "", 200, "30000"},
      {"HEAD of a range", true, "", "bytes=0-9", 206, "10"},
      {"304", false, FileEntityTag(mtime_, 30000), "", 304, ""},
      {"416", false, "", "bytes=30000-", 416, "0"},
  };
  for (const auto& c : cases) {
    StaticRequest r = Request();
    r.head = c.head;
    r.ifNoneMatch = c.ifNoneMatch;
    r.range = c.range;
    StaticAnswer a = PrepareStaticAnswer(r);
    EXPECT_EQ(a.status, c.status) << c.name;
    EXPECT_EQ(a.bodyLength, 0) << c.name;
    EXPECT_EQ(a.head.substr(a.head.size() - 4), "\r\n\r\n") << c.name;
    size_t at = a.head.find("Content-Length: ");
    std::string length = at == std::string::npos ? "" : a.head.substr(at + 16, a.head.find('\r', at) - at - 16);
    EXPECT_EQ(length, c.length) << c.name;
  }
}

TEST_F(StaticAnswerTest, ConnectionHeaderFollowsVersionAndKeepAlive) {
  struct Case {
    unsigned version;
    bool keep;
    const char* line;  // "" when no Connection header is due
  };
  const Case cases[] = {{11, true, ""}, {11, false, "Connection: close"}, {10, true, "Connection: keep-alive"}, {10, false, ""}};
  for (const auto& c : cases) {
    StaticRequest r = Request();
    r.version = c.version;
    r.keepAlive = c.keep;
    std::string head = PrepareStaticAnswer(r).head;
    EXPECT_EQ(head.rfind(c.version == 10 ? "HTTP/1.0 " : "HTTP/1.1 ", 0), 0u);
    bool has = head.find("\r\nConnection: ") != std::string::npos;
    EXPECT_EQ(has, *c.line != '\0') << c.version << c.keep;
    if (*c.line) {
      EXPECT_NE(head.find(std::string("\r\n") + c.line + "\r\n"), std::string::npos) << c.line;
    }
  }
}

TEST_F(StaticAnswerTest, AFileAlreadyOpenIsSentWithoutOpeningItsPathAgain) {
  // The answer takes over the open file: even with its name gone meanwhile,
  // the bytes and validators are the open file's.
  StaticRequest r = Request();
  UniqueFd opened(::open(r.nativePath.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_GE(opened.get(), 0);
  StaticAnswer whole = PrepareStaticAnswer(r);
  ::unlink(r.nativePath.c_str());
  StaticAnswer a = PrepareStaticAnswer(r, std::move(opened));
  EXPECT_EQ(a.status, 200);
  auto validators = [](const std::string& head) { return head.substr(head.find("Content-Length")); };
  EXPECT_EQ(validators(a.head), validators(whole.head));
  EXPECT_EQ(a.bodyLength, 30000);
  EXPECT_EQ(PrepareStaticAnswer(r).status, 404);
}

TEST_F(StaticAnswerTest, MissingFileIs404WithoutHead) {
  StaticRequest r = Request();
  r.nativePath = dir_ + "/gone.txt";
  StaticAnswer a = PrepareStaticAnswer(r);
  EXPECT_EQ(a.status, 404);
  EXPECT_TRUE(a.head.empty());
  EXPECT_LT(a.file.get(), 0);
}

TEST_F(StaticAnswerTest, AFifoInTheFilesPlaceIsRefusedWithoutWaiting) {
  std::string fifo = dir_ + "/pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  StaticRequest r = Request();
  r.nativePath = fifo;
  StaticAnswer a = PrepareStaticAnswer(r);  // a blocking open would wait here for a writer
  ::unlink(fifo.c_str());
  EXPECT_EQ(a.status, 403);
  EXPECT_TRUE(a.head.empty());
  EXPECT_LT(a.file.get(), 0);
}

}  // namespace
}  // namespace torvane::server
