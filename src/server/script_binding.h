// The object binding: how a page reaches a component object's members
// (internal to the page engine).
//
// A component object enters the page as a Proxy over a function that holds its
// ObjectRef (released by the function's finalizer). The Proxy's traps go
// through the object's member table only:
//  - obj.Prop calls the getter (a getter with required parameters, and every
//    method, reads as a function, a thunk bound to the member's name);
//    obj.Prop = v calls let, or set-by-reference when v is an object and the
//    member has one; names ignore letter case.
//  - a property whose parameters are all optional reads as its value and is
//    also callable with arguments (v.Item, v.Item(), v.Item(2)).
//  - an object with a default member is callable (post.FormInputs("f")), and
//    converts to a string or number through its default member; obj[n] is the
//    default member at position n.
// Every trap and thunk is a Guarded body (script_guard.h): no C++ exception
// reaches Duktape.
#pragma once

#include <duktape.h>

#include "automation/object.h"

namespace torvane::server::script {

// The heap objects the binding needs, made once per heap and kept in its stash.
struct BindingHandlers {
  void* handler = nullptr;     // the Proxy handler of wrapped objects
  void* optHandler = nullptr;  // the Proxy handler of optional-parameter properties
  void* finalizer = nullptr;   // releases a wrapped object
};
BindingHandlers MakeBindingHandlers(duk_context* ctx);

// Pushes a wrapper (Proxy) of `obj` for the running page.
void PushObject(duk_context* ctx, const ObjectRef& obj);
// True for an optional-parameter property (hidden keys read through the Proxy
// to its target).
bool IsOptionalProperty(duk_context* ctx, duk_idx_t idx);

}  // namespace torvane::server::script
