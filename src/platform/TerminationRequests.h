#pragma once
// Requests from outside to end the process (SIGTERM).
//
// A web server may ask a CGI process to end as soon as it has the whole
// answer (lighttpd does, once it has read as many bytes as Content-Length
// announced, which can be before the process has finished writing). The
// Firebird client library, once used, answers such a request by running its
// own shutdown in a thread of its own while the process goes on: the two
// shutdowns race (a crash in the library's thread, and under the sanitizers a
// deadlock that leaves the process hanging).

namespace nemvo::platform {

// A request to end waits (is blocked) from now on, in the calling thread and
// in every thread it starts later, the client library's included. Call it
// before anything starts a thread.
void DeferTerminationRequests();

// From now on the process ignores requests to end, a waiting one included,
// and finishes on its own.
void IgnoreTerminationRequests();

// For a process whose answer is complete: from now on a request to end, a
// waiting one included, ends it at once (exit status 0), skipping what is
// left of its shutdown (the client library's alone takes tens of
// milliseconds, and Apache waits for it after every CGI answer), when
// `mayEnd` says so at that moment; otherwise it ends at the first call of
// EndIfAskedAndMay that finds `mayEnd` true. `mayEnd` runs in a signal
// handler: it may only read atomics.
void EndAtOnceOnTerminationRequest(bool (*mayEnd)());

// Ends the process at once (exit status 0) when a request to end has come
// since EndAtOnceOnTerminationRequest and its `mayEnd` now says so; for the
// code that makes `mayEnd` true (from any thread).
void EndIfAskedAndMay();

// For a process that serves many requests: a descriptor that becomes
// readable once the process has been asked to end (SIGTERM, or SIGINT from a
// terminal). Both are blocked from now on, so they arrive only through it and
// never in the middle of a request; call it before anything starts a thread.
// -1 when the system refuses.
int OpenTerminationChannel();

// Takes what the channel holds: true when it held a request to end.
bool TakeTerminationRequest(int channel);

}  // namespace nemvo::platform
