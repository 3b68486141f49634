#pragma once
// The process's standard streams, used unbuffered: bytes go to and come from
// the descriptors as they are, without translation.
#include <cstdint>
#include <string_view>

namespace nemvo::platform {

// Makes the standard descriptors safe to use for one CGI exchange: a closed
// standard input or error is pointed at /dev/null (so that no file opened
// later takes its number), and a write to a closed pipe gives an error
// instead of ending the process. Returns 0, or the error code when standard
// output is not open for writing (then no response can be given).
int PrepareStandardStreams();

// One read of up to `count` bytes (retried when a signal interrupts it):
// the number read, 0 at the end of input, -1 on an error.
int64_t ReadStandardInput(void* buffer, int64_t count);

// Writes `count` bytes, going on after partial writes: the number written,
// or -1 when an error came before any byte was taken.
int64_t WriteStandardOutput(const void* buffer, int64_t count);

// Writes to standard error, ignoring failures.
void WriteStandardError(std::string_view text);

// Flushes the C library's buffered standard output, if anything used it.
void FlushStandardOutput();

// Ends standard output while the process goes on: whoever reads it sees the
// end of the output now. The descriptor is pointed at /dev/null, so later
// writes go nowhere and no file opened later takes its number.
void EndStandardOutput();

// Ends standard input: the descriptor is pointed at /dev/null. Apache's
// mod_cgid gives a program one socket as both standard input and standard
// output, and sees the end of the output only once no descriptor of it is
// left open.
void EndStandardInput();

// Ends standard error the same way. Some web servers (Apache's mod_cgi,
// fcgiwrap) hold the request open until standard error ends too, so a process
// that still has work to do after its answer ends both. In sanitized builds the
// sanitizers' reports keep going to the original standard error through a copy
// of it: their checks at exit matter more there than the web server's wait.
void EndStandardError();

}  // namespace nemvo::platform
