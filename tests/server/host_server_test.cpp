// Server.CreateObject and the page engine's two ways of creating objects.
#include "server/host_server.h"

#include <gtest/gtest.h>

#include "automation/progid.h"
#include "host/script_context.h"
#include "server/host_dispatch.h"
#include "server/script_engine.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

using test::ThrownError;
using test::MemHost;
using test::TempDir;

// Directory attaches the page's host objects only in OnStartPage, so whether
// the record holds them shows whether OnStartPage ran.
TEST(HostServer, CreateObjectCallsOnStartPageAndActiveXObjectDoesNot) {
  TempDir site;
  MemHost host(site.path());
  auto server = std::make_shared<HostServer>(site.path(), "/");
  ObjectContextScope scope(host.context());
  ClearScriptContext();
  ObjectRef plain = CreateObject("Torvane.Directory");
  EXPECT_FALSE(CurrentScriptContext().request);
  ObjectRef started = server->CreateObject("Torvane.Directory");
  EXPECT_EQ(CurrentScriptContext().request, host.request);

  ClearScriptContext();
  ScriptEngine engine;
  auto page = CompilePageText(site.path(), "/t.asp",
                              "<% var a = new ActiveXObject('Torvane.Directory'); %><%= Request.TotalBytes %>");
  PageGlobals g{RequestObject::Create(host.request), ResponseObject::Create(host.response), ServerObject::Create(server),
                ApplicationObject::Create(host.application), host.response.get()};
  ASSERT_TRUE(engine.Run(*page, g).ok);
  EXPECT_FALSE(CurrentScriptContext().request);
  page = CompilePageText(site.path(), "/t.asp", "<% var a = Server.CreateObject('Torvane.Directory'); %>");
  ASSERT_TRUE(engine.Run(*page, g).ok);
  EXPECT_EQ(CurrentScriptContext().request, host.request);
  ClearScriptContext();
}

TEST(HostServer, MapPathEncodersAndUnknownProgIds) {
  HostServer server("/srv/site", "/sub/");
  EXPECT_EQ(server.MapPath("a.txt"), "C:\\srv\\site\\sub\\a.txt");
  EXPECT_EQ(server.MapPath("/"), "C:\\srv\\site");
  EXPECT_THROW(server.MapPath("../../x"), Error);
  EXPECT_EQ(server.HTMLEncode("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(server.URLEncode("a b&c=d/é"), "a+b%26c%3Dd%2F%C3%A9");
  Error e = ThrownError([&] { server.CreateObject("Torvane.Nothing"); });
  EXPECT_EQ(e.number, 429);
}

}  // namespace
}  // namespace torvane::server
