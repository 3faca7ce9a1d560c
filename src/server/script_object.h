// A page's own objects handed to components (internal to the page engine).
//
// A plain JavaScript object (one whose class is "Object": a literal, new
// Object, an instance of a page's own constructor) passed to a component
// becomes a ScriptObject: a late-bound object whose members are the object's
// properties, found by name in any letter case (an exact match first). Reading
// a member reads the property and calls it when it is a function; calling a
// member calls the function with the object as `this`; Let and Set assign the
// property. Its default value is the object's string conversion. Handed back
// to the page, it is the page's own object again.
//
// The page's global object keeps the JavaScript object alive for the rest of
// the page; a component that keeps the ScriptObject longer finds it dead (91)
// in any later page. All engine calls run protected, so a throwing getter or
// function becomes an automation error and never unwinds C++ frames.
#pragma once

#include <duktape.h>

#include "automation/object.h"

namespace torvane::server::script {

// True for a plain object of the running page.
bool IsPlainObject(duk_context* ctx, duk_idx_t idx);
// The plain object at `idx` as a ScriptObject (kept alive for the page).
ObjectRef MakeScriptObject(duk_context* ctx, duk_idx_t idx);
// Pushes the page's own object when `obj` is a live ScriptObject; false otherwise.
bool PushScriptObject(duk_context* ctx, const ObjectRef& obj);

}  // namespace torvane::server::script
