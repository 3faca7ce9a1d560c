/* Shared built-ins of a script heap (internal to the page engine).
 *
 * A heap's built-ins (Object, Array, Math, JSON ..., the host functions, the
 * constants and Enumerator) are made once, on the heap's own global object,
 * the template. Every page runs in a thread that shares them and has a global
 * object of its own whose prototype is the template: whatever a page declares
 * or assigns at its top level lands on its own global and is dropped with it.
 *
 * What a page could still change is the shared objects themselves (a method
 * added to Array.prototype, Math.max replaced). A snapshot records, for every
 * object reachable from the built-ins, its properties (keys, values and
 * attributes), prototype and flags; after each page the engine compares and,
 * when anything changed, throws the heap away, so the next page again starts
 * from pristine built-ins.
 *
 * These functions reach into Duktape's object layout, so they are compiled in
 * the same unit as Duktape (duktape_build.c). */
#pragma once

#include <duktape.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct torvane_builtins_snapshot torvane_builtins_snapshot;

/* Records every object reachable from the built-ins of `ctx`'s thread (its
 * global object, prototypes, property values, getters and setters). The
 * objects are kept alive from the heap stash, so none is freed and reused
 * while the snapshot exists. Null when out of memory. */
torvane_builtins_snapshot *torvane_builtins_snapshot_take(duk_context *ctx);

/* 1 when any recorded object changed since the snapshot: a property added,
 * removed or rewritten, its attributes, the object's prototype, its
 * extensibility, or an array's length; 0 otherwise. Cost: one compare of each
 * object's property table. */
int torvane_builtins_changed(duk_context *ctx, const torvane_builtins_snapshot *s);

/* Frees the snapshot (not the heap's objects). Null is allowed. */
void torvane_builtins_snapshot_free(torvane_builtins_snapshot *s);

/* [ ... obj ... ] -> [ ... obj ... ]: removes every own property of the
 * object at `idx`, also the ones a page's var declarations made permanent.
 * Used on a page's global object after the page: it breaks the cycles through
 * the global (a page function -> its scope -> the global -> the function) and
 * those of the page's functions with their prototypes (f.prototype.constructor
 * is f), so reference counts free the page's objects without a collection
 * pass. */
void torvane_clear_object(duk_context *ctx, duk_idx_t idx);

/* [ ... program ... ] -> unchanged: after a page, breaks the cycles of its
 * program function (at `idx`) and of every function template inside it with
 * their prototype objects (fn.prototype.constructor is fn; loaded bytecode
 * gives templates one too), so the program is freed by reference counts. */
void torvane_unlink_program(duk_context *ctx, duk_idx_t idx);

#ifdef __cplusplus
}
#endif
