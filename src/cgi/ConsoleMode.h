#pragma once
// Whether the program answers requests over streams (a CGI process's standard
// streams, a FastCGI request's streams) rather than into files. The main
// program sets it before anything else.
namespace nemvo {

inline bool ConsoleMode = false;

}  // namespace nemvo
