#pragma once
// The answers a FastCGI worker writes itself, where the request cycle gave
// none: a request refused before the cycle saw it, and one the cycle wrote
// nothing for (a path no action serves). A CGI program that writes nothing
// leaves the answer to the web server; through FastCGI, Apache's proxy would
// pass that on as an empty 200, so the worker answers for itself, and the
// three servers agree.
#include <string>

namespace nemvo {

// "Status: NNN REASON" head and a short HTML page.
std::string FastCGIOwnAnswer(int status, const char* reason);

// For a request the cycle wrote nothing for.
inline constexpr int kNothingWrittenStatus = 404;
inline constexpr const char* kNothingWrittenReason = "Not Found";

}  // namespace nemvo
