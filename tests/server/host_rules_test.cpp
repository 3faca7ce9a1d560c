// The rules every host follows (host/host_rules.cpp, host/named_values.h): the
// tests' in-memory host and the web server's host objects behave alike.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "host/script_context.h"
#include "server/application_store.h"
#include "server/host_dispatch.h"
#include "server/host_server.h"
#include "support/memhost.h"

namespace torvane::server {
namespace {

using test::MemHost;
using test::TempDir;

// Directory attaches the page's host objects only in OnStartPage, so whether
// the script context holds them shows whether OnStartPage ran.
TEST(HostRules, EveryHostsCreateObjectCallsOnStartPage) {
  TempDir site;
  MemHost host(site.path());
  struct Case {
    const char* host;
    std::shared_ptr<Server> server;
  };
  const Case cases[] = {{"in-memory", host.server}, {"web", std::make_shared<HostServer>(site.path(), "/")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    ObjectContextScope scope(host.context());
    ClearScriptContext();
    ObjectRef obj = c.server->CreateObject("Torvane.Directory");
    ASSERT_TRUE(obj);
    EXPECT_EQ(CurrentScriptContext().request, host.request);
    // Through the page's Server object as well.
    ClearScriptContext();
    Args args{Variant("Torvane.Directory")};
    ServerObject::Create(c.server)->Invoke("CreateObject", CallKind::Method, args);
    EXPECT_EQ(CurrentScriptContext().request, host.request);
    ClearScriptContext();
  }
}

// Names ignore letter case and keep the spelling first written, on every host.
TEST(HostRules, EveryHostsApplicationFoldsNamesAlike) {
  auto store = std::make_shared<ApplicationStore>();
  struct Case {
    const char* host;
    std::shared_ptr<Application> app;
  };
  const Case cases[] = {{"in-memory", std::make_shared<test::MemApplication>()},
                        {"web", std::make_shared<ApplicationView>(store, store->NewPageId())}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    Application& app = *c.app;
    app.SetValue("Visits", Variant(1));
    app.SetValue("VISITS", Variant(2));
    app.SetValue("other", Variant("x"));
    EXPECT_EQ(app.Value("visits").toInt32(), 2);
    EXPECT_EQ(app.Names(), (std::vector<std::string>{"other", "Visits"}));
    app.Remove("vIsItS");
    EXPECT_TRUE(app.Value("Visits").isEmpty());
    EXPECT_EQ(app.Names(), (std::vector<std::string>{"other"}));
    app.RemoveAll();
    EXPECT_TRUE(app.Names().empty());
  }
}

// Request.Form read without a name gives the url-encoded form text; a host
// that keeps no body text gives its names and values encoded the same way.
TEST(HostRules, RawFormTextIsUrlEncodedOnEveryHost) {
  MemHost host;
  host.request->form = {{"a b", "x&y=z"}, {"c", "é"}, {"c", "2"}};
  EXPECT_EQ(host.request->RawForm(), "a+b=x%26y%3Dz&c=%C3%A9%2C+2");
  ObjectRef request = RequestObject::Create(host.request);
  Args none{Variant::Missing()};
  Variant form = request->Invoke("Form", CallKind::Get, none);
  EXPECT_EQ(Variant(form).resolved().toString(), "a+b=x%26y%3Dz&c=%C3%A9%2C+2");
  EXPECT_TRUE(host.request->formRead);
}

}  // namespace
}  // namespace torvane::server
