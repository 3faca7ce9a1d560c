// The per-thread script context record and AttachScriptContext.
//
// Each thread that runs pages has one record of the host objects, shared by all
// objects created on that thread. AttachScriptContext replaces its fields from
// the thread's object context (never clears them); objects keep no copies and
// read the record of the calling thread at each use.
#pragma once

#include <memory>

#include "host/host.h"

namespace torvane {

struct ScriptContext {
  std::shared_ptr<ObjectContext> objectContext;
  std::shared_ptr<Response> response;
  std::shared_ptr<Request> request;
  std::shared_ptr<Server> server;
  std::shared_ptr<Application> application;
};

// The calling thread's record.
ScriptContext& CurrentScriptContext();

// Fetches the object context and stores Response, Request, Server and
// Application, in that order. Without an object context it fails with 91 and
// leaves the record as it was.
void AttachScriptContext();

// The record's host objects; each fails with 91 when that field is empty.
Request& ScriptRequest();
Response& ScriptResponse();
Server& ScriptServer();
Application& ScriptApplication();

// Empties the calling thread's record (hosts call it when a worker ends a page,
// so one page's objects never reach the next).
void ClearScriptContext();

}  // namespace torvane
