// The web host's Request and Application objects.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "automation/collection.h"
#include "automation/error.h"
#include "server/application_store.h"
#include "server/http_request.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

using test::ThrownError;

std::shared_ptr<HttpRequest> MakeRequest(std::string body, std::vector<std::pair<std::string, std::string>> headers,
                                         std::string query = "") {
  RequestInfo info;
  info.method = "POST";
  info.path = "/p.asp";
  info.query = std::move(query);
  info.headers = std::move(headers);
  auto data = std::make_shared<std::string>(std::move(body));
  auto pos = std::make_shared<size_t>(0);
  auto reader = std::make_shared<BodyReader>(static_cast<int64_t>(data->size()), [data, pos](uint8_t* out, size_t max) {
    size_t n = std::min(max, data->size() - *pos);
    std::copy(data->begin() + static_cast<long>(*pos), data->begin() + static_cast<long>(*pos + n), out);
    *pos += n;
    return n;
  });
  return std::make_shared<HttpRequest>(info, reader, 1 << 20);
}

TEST(HttpRequest, ServerVariablesUseCgiNamesAndEveryHeader) {
  auto r = MakeRequest("abc", {{"Content-Type", "text/plain"}, {"If-Modified-Since", "x"}, {"X-Many", "1"}, {"x-many", "2"}},
                       "a=1");
  EXPECT_EQ(r->ServerVariables("REQUEST_METHOD").toString(), "POST");
  EXPECT_EQ(r->ServerVariables("content_type").toString(), "text/plain");
  EXPECT_EQ(r->ServerVariables("CONTENT_LENGTH").toString(), "3");
  EXPECT_EQ(r->ServerVariables("QUERY_STRING").toString(), "a=1");
  EXPECT_EQ(r->ServerVariables("PATH_INFO").toString(), "/p.asp");
  EXPECT_EQ(r->ServerVariables("HTTP_IF_MODIFIED_SINCE").toString(), "x");
  EXPECT_EQ(r->ServerVariables("HTTP_X_MANY").toString(), "1, 2");
  EXPECT_TRUE(r->ServerVariables("HTTP_RANGE").isEmpty());
  EXPECT_TRUE(r->ServerVariables("NO_SUCH_VARIABLE").isEmpty());
}

TEST(HttpRequest, QueryStringDecodingAndRepeatedNames) {
  auto r = MakeRequest("", {}, "a=1+2&b=%41%zz&a=3&flag&=empty");
  EXPECT_EQ(r->QueryString("A").toString(), "1 2, 3");
  EXPECT_EQ(r->QueryString("b").toString(), "A%zz");
  EXPECT_EQ(r->QueryString("flag").toString(), "");
  EXPECT_TRUE(r->QueryString("missing").isEmpty());
  EXPECT_EQ(r->QueryStringNames(), (std::vector<std::string>{"a", "b", "flag", ""}));
}

TEST(HttpRequest, FormConsumesTheBodyAndThenBinaryReadFails) {
  auto r = MakeRequest("x=1&y=%C3%A9", {{"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}});
  EXPECT_EQ(r->TotalBytes(), 12);
  EXPECT_EQ(r->Form("y").toString(), "é");
  EXPECT_EQ(r->FormNames(), (std::vector<std::string>{"x", "y"}));
  Error e = ThrownError([&] { r->BinaryRead(1); });
  EXPECT_EQ(e.number, -2147467259);
  EXPECT_EQ(e.description, "Cannot call BinaryRead after using Request.Form collection.");
}

TEST(HttpRequest, BinaryReadHandsEachByteOnceThenFormFails) {
  auto r = MakeRequest("0123456789", {{"Content-Type", "application/x-www-form-urlencoded"}});
  EXPECT_EQ(r->BinaryRead(4).bytes(), Bytes({'0', '1', '2', '3'}));
  EXPECT_EQ(r->BinaryRead(100).bytes(), Bytes({'4', '5', '6', '7', '8', '9'}));
  EXPECT_TRUE(r->BinaryRead(5).bytes().empty());
  EXPECT_THROW(r->Form("x"), Error);
  EXPECT_THROW(r->BinaryRead(-1), Error);
}

TEST(HttpRequest, FormOfAnotherContentTypeIsEmptyButConsumes) {
  auto r = MakeRequest("--b\r\n...", {{"Content-Type", "multipart/form-data; boundary=b"}});
  EXPECT_TRUE(r->Form("x").isEmpty());
  EXPECT_THROW(r->BinaryRead(1), Error);
}

TEST(ApplicationStore, ValuesAreSharedAndNamesIgnoreCase) {
  auto store = std::make_shared<ApplicationStore>();
  ApplicationView a(store, store->NewPageId()), b(store, store->NewPageId());
  a.SetValue("Count", Variant(3));
  EXPECT_EQ(b.Value("COUNT").toInt32(), 3);
  EXPECT_TRUE(b.Value("other").isEmpty());
  EXPECT_EQ(b.Names(), std::vector<std::string>{"Count"});
}

TEST(ApplicationStore, ObjectsAreRefused) {
  auto store = std::make_shared<ApplicationStore>();
  ApplicationView a(store, store->NewPageId());
  ObjectRef obj = std::make_shared<Enumerator>(std::vector<Variant>{});
  EXPECT_THROW(a.SetValue("o", Variant(obj)), Error);
  VArray arr;
  arr.items = {Variant(1), Variant(obj)};
  EXPECT_THROW(a.SetValue("o", Variant(arr)), Error);
  EXPECT_TRUE(a.Value("o").isEmpty());
  arr.items = {Variant(1), Variant("x")};
  a.SetValue("o", Variant(arr));
  EXPECT_EQ(a.Value("o").array().items.size(), 2u);
}

TEST(ApplicationStore, LockExcludesOtherPagesUntilUnlockOrPageEnd) {
  auto store = std::make_shared<ApplicationStore>();
  ApplicationView holder(store, store->NewPageId());
  holder.Lock();
  holder.Lock();  // re-entrant for its owner
  holder.SetValue("v", Variant(1));
  std::atomic<bool> gotLock{false}, wrote{false};
  std::thread other([&] {
    ApplicationView page(store, store->NewPageId());
    page.SetValue("v", Variant(2));  // waits: another page holds the lock
    wrote = true;
    page.Lock();
    gotLock = true;
    page.UnLock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(wrote.load());
  EXPECT_EQ(store->Value("v").toInt32(), 1);
  holder.UnLock();  // still held once
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(wrote.load());
  EXPECT_TRUE(holder.Release());  // the page's end releases what is left
  other.join();
  EXPECT_TRUE(wrote.load());
  EXPECT_TRUE(gotLock.load());
  EXPECT_EQ(store->Value("v").toInt32(), 2);
  EXPECT_FALSE(holder.Release());
}

TEST(ApplicationStore, UnlockByAPageThatDoesNotHoldTheLockIsIgnored) {
  auto store = std::make_shared<ApplicationStore>();
  ApplicationView a(store, store->NewPageId()), b(store, store->NewPageId());
  a.Lock();
  b.UnLock();
  EXPECT_FALSE(b.Release());
  EXPECT_TRUE(a.Release());
}

}  // namespace
}  // namespace torvane::server
