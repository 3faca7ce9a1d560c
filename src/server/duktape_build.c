/* Duktape, compiled into the host from Debian's duktape-dev source with the one
 * option the packaged library lacks: an execution check every few thousand
 * instructions, through which the host stops a page that has used up its
 * processor time (script_timeout). The check is torvane_script_expired() in
 * script_engine.cpp; once it says so, every catch point rethrows until the page
 * has unwound. The configuration is the packaged one plus these two options. */
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
