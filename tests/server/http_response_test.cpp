#include "server/http_response.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/error.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

using test::ThrownError;
using ::testing::HasSubstr;
using ::testing::Not;

struct RecordingSink : ResponseSink {
  std::string data;
  std::vector<std::string> sends;
  bool connected = true;
  bool failSends = false;
  bool Send(std::string_view d) override {
    if (failSends) return false;
    data.append(d);
    sends.emplace_back(d);
    return true;
  }
  bool Connected() override { return connected; }
};

struct ResponseFixture : ::testing::Test {
  std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
  std::shared_ptr<HttpResponse> Make(ResponseOptions o = {}) { return std::make_shared<HttpResponse>(sink, o); }
  std::string Headers() const { return sink->data.substr(0, sink->data.find("\r\n\r\n") + 4); }
  std::string Body() const { return sink->data.substr(sink->data.find("\r\n\r\n") + 4); }
};

TEST_F(ResponseFixture, BufferedOutputLeavesAtTheEndWithItsLength) {
  auto r = Make();
  r->Write("hello ");
  r->Write("world");
  EXPECT_TRUE(sink->data.empty());
  r->Finish();
  EXPECT_EQ(sink->sends.size(), 1u);  // headers and body leave together
  EXPECT_THAT(Headers(), HasSubstr("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(Headers(), HasSubstr("Content-Length: 11\r\n"));
  EXPECT_THAT(Headers(), HasSubstr("Content-Type: text/html\r\n"));
  EXPECT_THAT(Headers(), HasSubstr("Cache-Control: private\r\n"));
  EXPECT_EQ(Body(), "hello world");
  EXPECT_TRUE(r->KeepAlive());
}

TEST_F(ResponseFixture, UnbufferedOutputIsChunkedAndSentAtOnce) {
  auto r = Make();
  r->SetBuffer(false);
  r->Write("abc");
  EXPECT_THAT(sink->data, HasSubstr("Transfer-Encoding: chunked"));
  EXPECT_THAT(sink->data, HasSubstr("3\r\nabc\r\n"));
  r->Write(std::string(300, 'x'));
  EXPECT_THAT(sink->data, HasSubstr("12c\r\n"));
  r->Finish();
  EXPECT_EQ(sink->data.substr(sink->data.size() - 5), "0\r\n\r\n");
  EXPECT_TRUE(r->KeepAlive());
}

TEST_F(ResponseFixture, UnbufferedWithThePagesContentLengthIsRaw) {
  auto r = Make();
  r->SetBuffer(false);
  r->AddHeader("Content-Length", "5");
  r->Write("hel");
  r->Write("lo");
  r->Finish();
  EXPECT_THAT(Headers(), HasSubstr("Content-Length: 5\r\n"));
  EXPECT_THAT(Headers(), Not(HasSubstr("chunked")));
  EXPECT_EQ(Body(), "hello");
  EXPECT_TRUE(r->KeepAlive());
}

TEST_F(ResponseFixture, WritingMoreOrLessThanTheAnnouncedLengthEndsTheConnection) {
  auto more = Make();
  more->SetBuffer(false);
  more->AddHeader("Content-Length", "2");
  more->Write("abcdef");
  more->Finish();
  EXPECT_EQ(Body(), "ab");
  EXPECT_FALSE(more->KeepAlive());
  sink->data.clear();
  auto less = Make();
  less->SetBuffer(false);
  less->AddHeader("Content-Length", "10");
  less->Write("abc");
  less->Finish();
  EXPECT_FALSE(less->KeepAlive());
}

TEST_F(ResponseFixture, WithoutChunkingTheEndOfTheBodyIsTheEndOfTheConnection) {
  ResponseOptions o;
  o.chunkedAllowed = false;
  auto r = Make(o);
  r->SetBuffer(false);
  r->Write("abc");
  r->Finish();
  EXPECT_THAT(Headers(), HasSubstr("Connection: close"));
  EXPECT_EQ(Body(), "abc");
  EXPECT_FALSE(r->KeepAlive());
}

TEST_F(ResponseFixture, HeadersFreezeOnceOutputBegan) {
  auto r = Make();
  r->SetBuffer(false);
  r->SetContentType("text/plain");
  r->Write("x");
  r->SetContentType("image/png");
  r->SetStatus("404 Not Found");
  r->AddHeader("X-Late", "1");
  EXPECT_EQ(r->ContentType(), "text/plain");
  EXPECT_EQ(r->Status(), "200 OK");
  EXPECT_TRUE(r->HeadersSent());
  r->Finish();
  EXPECT_THAT(sink->data, Not(HasSubstr("X-Late")));
}

TEST_F(ResponseFixture, FlushSendsHeadersAndKeepsBuffering) {
  auto r = Make();
  r->Write("a");
  r->Flush();
  EXPECT_TRUE(r->HeadersSent());
  EXPECT_THAT(sink->data, HasSubstr("1\r\na\r\n"));
  r->Write("b");
  EXPECT_THAT(sink->data, Not(HasSubstr("1\r\nb\r\n")));
  r->Finish();
  EXPECT_THAT(sink->data, HasSubstr("1\r\nb\r\n"));
}

TEST_F(ResponseFixture, BufferPastItsLimitIsSentEarly) {
  ResponseOptions o;
  o.bufferLimit = 1024;
  auto r = Make(o);
  r->Write(std::string(1000, 'a'));
  EXPECT_TRUE(sink->data.empty());
  r->Write(std::string(100, 'b'));
  EXPECT_TRUE(r->HeadersSent());
  r->Finish();
  EXPECT_THAT(sink->data, HasSubstr("Transfer-Encoding: chunked"));
}

TEST_F(ResponseFixture, ClearEndAndWritesAfterTheEnd) {
  auto r = Make();
  r->Write("dropped");
  r->Clear();
  r->Write("kept");
  r->End();
  r->Write("after end");
  EXPECT_TRUE(r->Ended());
  r->Finish();
  EXPECT_EQ(Body(), "kept");
}

TEST_F(ResponseFixture, RedirectEndsWithLocationAndEscapedBody) {
  auto r = Make();
  r->Write("gone");
  r->Redirect("/next?a=1&b=\"2\"");
  r->Finish();
  EXPECT_THAT(Headers(), HasSubstr("HTTP/1.1 302 Object moved"));
  EXPECT_THAT(Headers(), HasSubstr("Location: /next?a=1&b=\"2\"\r\n"));
  EXPECT_THAT(Body(), HasSubstr("HREF=\"/next?a=1&amp;b=&quot;2&quot;\""));
  EXPECT_THAT(Body(), Not(HasSubstr("gone")));
}

TEST_F(ResponseFixture, HeaderInjectionIsRefused) {
  auto r = Make();
  for (auto fn : std::vector<std::function<void()>>{
           [&] { r->AddHeader("X", "a\r\nSet-Cookie: x=1"); }, [&] { r->AddHeader("Bad:Name", "v"); },
           [&] { r->SetContentType("text/html\nX: y"); }, [&] { r->SetStatus("200 OK\r\nX: y"); },
           [&] { r->SetStatus("ok"); }, [&] { r->Redirect("/a\r\nX: y"); }, [&] { r->SetCacheControl("a\nb"); }}) {
    EXPECT_EQ(ThrownError(fn).number, 5);
  }
}

TEST_F(ResponseFixture, FailWithReplacesBufferedOutputBy500) {
  auto r = Make();
  r->Write("partial");
  r->FailWith("<p>failed</p>");
  r->Finish();
  EXPECT_THAT(Headers(), HasSubstr("HTTP/1.1 500 Internal Server Error"));
  EXPECT_EQ(Body(), "<p>failed</p>");
}

TEST_F(ResponseFixture, HeadAnd304SendNoBody) {
  ResponseOptions o;
  o.headRequest = true;
  auto head = Make(o);
  head->Write("body");
  head->Finish();
  EXPECT_THAT(Headers(), HasSubstr("Content-Length: 4"));
  EXPECT_EQ(Body(), "");
  sink->data.clear();
  auto nm = Make();
  nm->SetStatus("304 Not Modified");
  nm->Write("ignored");
  nm->Finish();
  EXPECT_EQ(Body(), "");
  EXPECT_THAT(Headers(), Not(HasSubstr("Content-Length")));
}

TEST_F(ResponseFixture, AGoneClientIsReported) {
  auto r = Make();
  EXPECT_TRUE(r->IsClientConnected());
  sink->connected = false;
  EXPECT_FALSE(r->IsClientConnected());
  sink->connected = true;
  sink->failSends = true;
  r->SetBuffer(false);
  r->Write("x");
  EXPECT_FALSE(r->IsClientConnected());
  EXPECT_TRUE(r->ClientGone());
  EXPECT_FALSE(r->KeepAlive());
}

}  // namespace
}  // namespace torvane::server

namespace torvane::server {
namespace {

// Once output has begun, a failure cannot change the status: the answer is
// cut short so the client sees it failed.
TEST_F(ResponseFixture, AFailureAfterFlushCutsTheChunkedAnswer) {
  auto r = Make();
  r->Write("begun");
  r->Flush();
  ASSERT_THAT(sink->data, HasSubstr("Transfer-Encoding: chunked"));
  size_t sent = sink->data.size();
  r->FailWith("<p>failed</p>");
  r->Finish();
  EXPECT_EQ(sink->data.size(), sent);  // no error text, no closing chunk
  EXPECT_THAT(sink->data, Not(HasSubstr("0\r\n\r\n")));
  EXPECT_TRUE(r->Aborted());
  EXPECT_FALSE(r->KeepAlive());
}

TEST_F(ResponseFixture, AFailureAfterOutputWithALengthLeavesTheBodyShort) {
  auto r = Make();
  r->SetBuffer(false);
  r->AddHeader("Content-Length", "100");
  r->Write("ten bytes!");
  r->FailWith("<p>failed</p>");
  r->Finish();
  EXPECT_EQ(Body(), "ten bytes!");
  EXPECT_FALSE(r->KeepAlive());
}

TEST_F(ResponseFixture, TheKeepAliveHookCanCloseTheConnection) {
  ResponseOptions o;
  bool allow = false;
  o.mayKeepAlive = [&] { return allow; };
  auto r = Make(o);
  r->Write("x");
  r->Finish();
  EXPECT_THAT(Headers(), HasSubstr("Connection: close\r\n"));
  EXPECT_FALSE(r->KeepAlive());
  sink->data.clear();
  allow = true;
  auto k = Make(o);
  k->Finish();
  EXPECT_THAT(Headers(), HasSubstr("Connection: keep-alive\r\n"));
}

TEST_F(ResponseFixture, TheCheckpointStopsWritesAndClientChecks) {
  ResponseOptions o;
  bool stop = false;
  o.checkpoint = [&] {
    if (stop) throw Error(-2147467259, "stopped", "Torvane host");
  };
  auto r = Make(o);
  r->Write("fine");
  EXPECT_TRUE(r->IsClientConnected());
  stop = true;
  EXPECT_THROW(r->Write("more"), Error);
  EXPECT_THROW(r->BinaryWrite(std::vector<uint8_t>{1, 2}), Error);
  EXPECT_THROW(r->IsClientConnected(), Error);
  EXPECT_THROW(r->Flush(), Error);
  r->Finish();  // the host's own end still sends what the page wrote
  EXPECT_EQ(Body(), "fine");
}

TEST_F(ResponseFixture, AppendToLogJoinsTextsForTheAccessLogAndNeverReachesTheClient) {
  auto r = Make();
  r->AppendToLog("user=ann");
  r->AppendToLog("");
  r->AppendToLog("step 2");
  r->Write("body");
  r->Finish();
  EXPECT_EQ(r->LogText(), "user=ann, step 2");
  EXPECT_EQ(sink->data.find("user=ann"), std::string::npos);
  auto big = Make();
  big->AppendToLog(std::string(HttpResponse::kLogTextLimit - 3, 'a'));
  big->AppendToLog("bbbbbbbb");  // ", " and one "b" still fit
  big->AppendToLog("c");
  EXPECT_EQ(big->LogText().size(), HttpResponse::kLogTextLimit);
  EXPECT_EQ(big->LogText().substr(HttpResponse::kLogTextLimit - 4), "a, b");
}

}  // namespace
}  // namespace torvane::server
