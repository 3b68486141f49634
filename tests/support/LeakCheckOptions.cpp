// Leak-check settings for test programs that load the Firebird client library
// (they only take effect in sanitized builds).
//
// The client library is loaded at run time and keeps thread-local data; the
// leak checker's walk of such dynamically allocated thread-local blocks reads
// stale entries on this system's C library and crashes the checker itself,
// failing a test that has passed. Thread-local blocks are therefore not
// scanned: an object reachable only from them is reported, never hidden, so
// the check only gets stricter. The one such object is the C library's own
// record of the last dlopen failure (the optional XML library is looked for
// and is absent), which is not ours to free.
//
// The use of that suppression is not reported: a program whose standard
// error is part of what it answers (nemvoweb) must not gain a summary there.
extern "C" const char* __lsan_default_options() { return "use_tls=0:print_suppressions=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_dlerror_run\n"; }
