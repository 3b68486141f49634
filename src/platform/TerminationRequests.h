#pragma once
// Requests from outside to end the process (SIGTERM).

namespace nemvo::platform {

// From now on the process ignores requests to end: it finishes on its own.
// For the time after the answer is complete, when a web server that has the
// whole answer asks the program to end (lighttpd does) while its shutdown is
// still running; the client library would otherwise run its own shutdown in
// a thread of its own, at the same time as the process's.
void IgnoreTerminationRequests();

}  // namespace nemvo::platform
