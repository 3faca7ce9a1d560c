#include "host/script_context.h"

namespace torvane {

namespace {
thread_local std::shared_ptr<ObjectContext> tCurrentContext;
thread_local ScriptContext tScriptContext;

template <class T>
T& Need(const std::shared_ptr<T>& p) {
  if (!p) ThrowPlatform(err::ObjectNotSet);
  return *p;
}
}  // namespace

std::shared_ptr<ObjectContext> GetObjectContext() {
  if (!tCurrentContext) ThrowPlatform(err::ObjectNotSet);
  return tCurrentContext;
}

ObjectContextScope::ObjectContextScope(std::shared_ptr<ObjectContext> ctx) : previous_(std::move(tCurrentContext)) {
  tCurrentContext = std::move(ctx);
}

ObjectContextScope::~ObjectContextScope() { tCurrentContext = std::move(previous_); }

ScriptContext& CurrentScriptContext() { return tScriptContext; }

void AttachScriptContext() {
  auto ctx = GetObjectContext();
  ScriptContext& rec = tScriptContext;
  rec.objectContext = ctx;
  // Each item is read in turn; a missing one fails after the earlier ones were stored.
  rec.response = ctx->response;
  if (!rec.response) ThrowPlatform(err::ObjectNotSet);
  rec.request = ctx->request;
  if (!rec.request) ThrowPlatform(err::ObjectNotSet);
  rec.server = ctx->server;
  if (!rec.server) ThrowPlatform(err::ObjectNotSet);
  rec.application = ctx->application;
  if (!rec.application) ThrowPlatform(err::ObjectNotSet);
}

Request& ScriptRequest() { return Need(tScriptContext.request); }
Response& ScriptResponse() { return Need(tScriptContext.response); }
Server& ScriptServer() { return Need(tScriptContext.server); }
Application& ScriptApplication() { return Need(tScriptContext.application); }

void ClearScriptContext() { tScriptContext = ScriptContext{}; }

}  // namespace torvane
