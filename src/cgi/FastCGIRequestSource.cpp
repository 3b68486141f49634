#include "cgi/FastCGIRequestSource.h"

#include <fcgiapp.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace nemvo {

namespace {

// Writes `count` bytes to `stream`, in pieces libfcgi takes: the number
// taken before the end or an error.
int64_t PutAll(const char* buffer, int64_t count, FCGX_Stream* stream) {
  int64_t done = 0;
  while (done < count) {
    const int chunk = int(std::min<int64_t>(count - done, INT_MAX));
    if (FCGX_PutStr(buffer + done, chunk, stream) != chunk) break;
    done += chunk;
  }
  return done;
}

}  // namespace

std::string TFastCGIRequestSource::Variable(const std::string& name) {
  // As in the environment: a name holding NUL or "=" names no variable.
  if (name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos) return {};
  for (char** p = fRequest.envp; p && *p; ++p)
    if (std::strncmp(*p, name.data(), name.size()) == 0 && (*p)[name.size()] == '=') return *p + name.size() + 1;
  return {};
}

int64_t TFastCGIRequestSource::ReadInput(char* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int n = FCGX_GetStr(buffer, int(std::min<int64_t>(count, INT_MAX)), fRequest.in);
  // A connection lost before the end of the body counts as its end, as a
  // closed standard input does: the request keeps what arrived.
  return n;
}

int64_t TFastCGIRequestSource::WriteOutput(const char* buffer, int64_t count) {
  const int64_t done = PutAll(buffer, count, fRequest.out);
  return done == count || done > 0 ? done : -1;
}

void TFastCGIRequestSource::WriteError(std::string_view text) {
  if (fOwnErrors) return TRequestSource::WriteError(text);
  // The web server logs a request's error stream as it arrives.
  PutAll(text.data(), int64_t(text.size()), fRequest.err);
}

}  // namespace nemvo
