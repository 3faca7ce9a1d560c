// Torvane's public host interfaces: what a program that embeds the component
// implements (Request, Response, Server, Application), the page's
// ObjectContext and ObjectContextScope that make them current on a thread, and
// AttachScriptContext, which hands them to the objects created there.
// Forwards to host/host.h and host/script_context.h. See examples/embed.
#pragma once

#include "host/host.h"
#include "host/script_context.h"
