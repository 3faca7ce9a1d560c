/* Duktape, compiled into the host from Debian's duktape-dev source with the one
 * option the packaged library lacks: an execution check every few thousand
 * instructions, through which the host stops a page that has used up its
 * processor time (script_timeout). The check is torvane_script_expired() in
 * script_engine.cpp; once it says so, every catch point rethrows until the page
 * has unwound. The configuration is the packaged one plus these two options.
 *
 * The shared built-ins (shared_builtins.h) are at the end: they read Duktape's
 * object layout, which only this unit sees. */
#define DUK_COMPILING_DUKTAPE
#include "/usr/share/duktape/duk_config.h"

#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) torvane_script_expired(udata)
duk_bool_t torvane_script_expired(void *udata);

#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include "/usr/share/duktape/duktape.c"

/* ---- shared built-ins (shared_builtins.h) --------------------------------
 * Compiled here because it reads Duktape's object layout. */
#include "shared_builtins.h"

#include <stdlib.h>
#include <string.h>

typedef struct {
	duk_hobject *obj;
	duk_uint32_t flags;    /* the object's own flags (not the collector's) */
	duk_hobject *proto;
	duk_uint8_t *props;    /* the property table as allocated */
	duk_size_t size;       /* its size in bytes */
	duk_uint32_t length;   /* arrays: their length */
	duk_uint8_t *copy;     /* the table's bytes when recorded */
} torvane__builtin;

struct torvane_builtins_snapshot {
	torvane__builtin *items; /* in the order found: an object always after the one that led to it */
	duk_size_t count, cap;
	duk_hobject **seen;      /* open-addressing set of the recorded objects */
	duk_size_t seen_cap;     /* a power of two, at least twice count */
};

#define TORVANE__USER_FLAGS (~((duk_uint32_t) ((1UL << DUK_HEAPHDR_FLAGS_USER_START) - 1UL)))

static duk_size_t torvane__slot(duk_hobject *h, duk_size_t cap) {
	duk_size_t v = (duk_size_t) (duk_uintptr_t) h;
	v ^= v >> 17;
	v *= (duk_size_t) 0x9e3779b97f4a7c15ULL;
	return (v >> 7) & (cap - 1);
}

/* Adds `h` to the set; 1 when it was new, 0 when known, -1 out of memory. */
static int torvane__remember(torvane_builtins_snapshot *s, duk_hobject *h) {
	duk_size_t i;
	if ((s->count + 1) * 2 > s->seen_cap) {
		duk_size_t cap = s->seen_cap ? s->seen_cap * 2 : 1024, k;
		duk_hobject **seen = (duk_hobject **) calloc(cap, sizeof *seen);
		if (!seen) return -1;
		for (k = 0; k < s->seen_cap; k++) {
			if (!s->seen[k]) continue;
			for (i = torvane__slot(s->seen[k], cap); seen[i]; i = (i + 1) & (cap - 1)) {}
			seen[i] = s->seen[k];
		}
		free(s->seen);
		s->seen = seen;
		s->seen_cap = cap;
	}
	for (i = torvane__slot(h, s->seen_cap); s->seen[i]; i = (i + 1) & (s->seen_cap - 1))
		if (s->seen[i] == h) return 0;
	s->seen[i] = h;
	return 1;
}

/* Queues `h` for recording unless null or already known; 0 out of memory. */
static int torvane__queue(torvane_builtins_snapshot *s, duk_hobject *h) {
	int fresh;
	if (!h) return 1;
	fresh = torvane__remember(s, h);
	if (fresh <= 0) return fresh == 0;
	if (s->count == s->cap) {
		duk_size_t cap = s->cap ? s->cap * 2 : 512;
		torvane__builtin *items = (torvane__builtin *) realloc(s->items, cap * sizeof *items);
		if (!items) return 0;
		s->items = items;
		s->cap = cap;
	}
	memset(&s->items[s->count], 0, sizeof s->items[0]);
	s->items[s->count++].obj = h;
	return 1;
}

static duk_uint32_t torvane__length(duk_hobject *h) {
	return DUK_HOBJECT_HAS_EXOTIC_ARRAY(h) ? ((duk_harray *) h)->length : 0;
}

/* Records item `i` and queues every object it leads to; 0 out of memory. */
static int torvane__record(duk_heap *heap, torvane_builtins_snapshot *s, duk_size_t i) {
	duk_hobject *h = s->items[i].obj;
	duk_uint_fast32_t k;
	int ok = 1;
	s->items[i].flags = DUK_HEAPHDR_GET_FLAGS_RAW(&h->hdr) & TORVANE__USER_FLAGS;
	s->items[i].proto = DUK_HOBJECT_GET_PROTOTYPE(heap, h);
	s->items[i].props = DUK_HOBJECT_GET_PROPS(heap, h);
	s->items[i].size = DUK_HOBJECT_P_ALLOC_SIZE(h);
	s->items[i].length = torvane__length(h);
	if (s->items[i].size) {
		s->items[i].copy = (duk_uint8_t *) malloc(s->items[i].size);
		if (!s->items[i].copy) return 0;
		memcpy(s->items[i].copy, s->items[i].props, s->items[i].size);
	}
	ok = ok && torvane__queue(s, s->items[i].proto);
	for (k = 0; ok && k < DUK_HOBJECT_GET_ENEXT(h); k++) {
		if (!DUK_HOBJECT_E_GET_KEY(heap, h, k)) continue;
		if (DUK_HOBJECT_E_SLOT_IS_ACCESSOR(heap, h, k)) {
			ok = torvane__queue(s, DUK_HOBJECT_E_GET_VALUE_GETTER(heap, h, k)) &&
			     torvane__queue(s, DUK_HOBJECT_E_GET_VALUE_SETTER(heap, h, k));
		} else {
			duk_tval *tv = DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, h, k);
			if (DUK_TVAL_IS_OBJECT(tv)) ok = torvane__queue(s, DUK_TVAL_GET_OBJECT(tv));
		}
	}
	for (k = 0; ok && k < DUK_HOBJECT_GET_ASIZE(h); k++) {
		duk_tval *tv = DUK_HOBJECT_A_GET_VALUE_PTR(heap, h, k);
		if (DUK_TVAL_IS_OBJECT(tv)) ok = torvane__queue(s, DUK_TVAL_GET_OBJECT(tv));
	}
	if (ok && DUK_HOBJECT_IS_COMPFUNC(h)) {
		ok = torvane__queue(s, DUK_HCOMPFUNC_GET_LEXENV(heap, (duk_hcompfunc *) h)) &&
		     torvane__queue(s, DUK_HCOMPFUNC_GET_VARENV(heap, (duk_hcompfunc *) h));
	}
	if (ok && DUK_HOBJECT_GET_CLASS_NUMBER(h) == DUK_HOBJECT_CLASS_OBJENV)
		ok = torvane__queue(s, ((duk_hobjenv *) h)->target);
	return ok;
}

/* [ ... ] -> [ ... ]: keeps every recorded object alive from the heap stash. */
static duk_ret_t torvane__keep(duk_context *ctx, void *udata) {
	const torvane_builtins_snapshot *s = (const torvane_builtins_snapshot *) udata;
	duk_size_t i;
	duk_push_heap_stash(ctx);
	duk_push_array(ctx);
	for (i = 0; i < s->count; i++) {
		duk_push_heapptr(ctx, s->items[i].obj);
		duk_put_prop_index(ctx, -2, (duk_uarridx_t) i);
	}
	duk_put_prop_string(ctx, -2, "builtins");
	duk_pop(ctx);
	return 0;
}

torvane_builtins_snapshot *torvane_builtins_snapshot_take(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	torvane_builtins_snapshot *s = (torvane_builtins_snapshot *) calloc(1, sizeof *s);
	duk_size_t i;
	int ok = s != NULL;
	for (i = 0; ok && i < DUK_NUM_BUILTINS; i++) ok = torvane__queue(s, thr->builtins[i]);
	for (i = 0; ok && i < s->count; i++) ok = torvane__record(thr->heap, s, i);
	if (ok) ok = duk_safe_call(ctx, torvane__keep, s, 0, 1) == DUK_EXEC_SUCCESS;
	if (s) duk_pop(ctx);
	if (!ok) {
		torvane_builtins_snapshot_free(s);
		return NULL;
	}
	free(s->seen);
	s->seen = NULL;
	s->seen_cap = 0;
	return s;
}

int torvane_builtins_changed(duk_context *ctx, const torvane_builtins_snapshot *s) {
	duk_heap *heap = ((duk_hthread *) ctx)->heap;
	duk_size_t i;
	if (!s) return 1;
	for (i = 0; i < s->count; i++) {
		const torvane__builtin *b = &s->items[i];
		duk_hobject *h = b->obj;
		if ((DUK_HEAPHDR_GET_FLAGS_RAW(&h->hdr) & TORVANE__USER_FLAGS) != b->flags) return 1;
		if (DUK_HOBJECT_GET_PROTOTYPE(heap, h) != b->proto) return 1;
		if (DUK_HOBJECT_GET_PROPS(heap, h) != b->props || DUK_HOBJECT_P_ALLOC_SIZE(h) != b->size) return 1;
		if (torvane__length(h) != b->length) return 1;
		if (b->size && memcmp(b->props, b->copy, b->size) != 0) return 1;
	}
	return 0;
}

void torvane_builtins_snapshot_free(torvane_builtins_snapshot *s) {
	duk_size_t i;
	if (!s) return;
	for (i = 0; i < s->count; i++) free(s->items[i].copy);
	free(s->items);
	free(s->seen);
	free(s);
}

/* Breaks the cycle between the page function `fn` and its prototype object
 * (fn.prototype.constructor === fn), which every non-strict function has. */
static void torvane__unlink_prototype(duk_hthread *thr, duk_hobject *fn) {
	duk_tval *tv = duk_hobject_find_entry_tval_ptr(thr->heap, fn, DUK_HTHREAD_STRING_PROTOTYPE(thr));
	duk_hobject *proto;
	duk_tval *ctor;
	if (!tv || !DUK_TVAL_IS_OBJECT(tv)) return;
	proto = DUK_TVAL_GET_OBJECT(tv);
	ctor = duk_hobject_find_entry_tval_ptr(thr->heap, proto, DUK_HTHREAD_STRING_CONSTRUCTOR(thr));
	if (ctor && DUK_TVAL_IS_OBJECT(ctor) && DUK_TVAL_GET_OBJECT(ctor) == fn)
		(void) duk_hobject_delprop_raw(thr, proto, DUK_HTHREAD_STRING_CONSTRUCTOR(thr), DUK_DELPROP_FLAG_FORCE);
}

/* Unlinks `fn` and, recursively, the templates of the functions it defines
 * (bytecode loaded from a dump gives every template a prototype object). */
static void torvane__unlink_program(duk_hthread *thr, duk_hobject *fn, int depth) {
	duk_hobject **f, **end;
	torvane__unlink_prototype(thr, fn);
	if (depth > 64 || !DUK_HCOMPFUNC_GET_DATA(thr->heap, (duk_hcompfunc *) fn)) return;
	f = DUK_HCOMPFUNC_GET_FUNCS_BASE(thr->heap, (duk_hcompfunc *) fn);
	end = DUK_HCOMPFUNC_GET_FUNCS_END(thr->heap, (duk_hcompfunc *) fn);
	for (; f < end; f++)
		if (*f && DUK_HOBJECT_IS_COMPFUNC(*f)) torvane__unlink_program(thr, *f, depth + 1);
}

void torvane_unlink_program(duk_context *ctx, duk_idx_t idx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_hobject *h = duk_get_hobject(thr, idx);
	if (h && DUK_HOBJECT_IS_COMPFUNC(h)) torvane__unlink_program(thr, h, 0);
}

void torvane_clear_object(duk_context *ctx, duk_idx_t idx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_hobject *h = duk_require_hobject(thr, idx);
	duk_uint_fast32_t k;
	for (k = 0; k < DUK_HOBJECT_GET_ENEXT(h); k++) {
		duk_hstring *key = DUK_HOBJECT_E_GET_KEY(thr->heap, h, k);
		if (!key) continue;
		if (!DUK_HOBJECT_E_SLOT_IS_ACCESSOR(thr->heap, h, k)) {
			duk_tval *tv = DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(thr->heap, h, k);
			if (DUK_TVAL_IS_OBJECT(tv) && DUK_HOBJECT_IS_COMPFUNC(DUK_TVAL_GET_OBJECT(tv)))
				torvane__unlink_prototype(thr, DUK_TVAL_GET_OBJECT(tv));
		}
		(void) duk_hobject_delprop_raw(thr, h, key, DUK_DELPROP_FLAG_FORCE);
	}
}
