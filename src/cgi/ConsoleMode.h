#pragma once
// Whether the program talks CGI over its standard streams (the only way this
// program is run). The main program sets it before anything else.
namespace nemvo {

inline bool ConsoleMode = false;

}  // namespace nemvo
