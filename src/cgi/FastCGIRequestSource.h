#pragma once
// A FastCGI request as the request classes see it: its parameters are the
// variables, its input stream the body, its output stream the answer.
#include "cgi/FastCGIAnswerStatus.h"
#include "cgi/RequestSource.h"

namespace nemvo {

class TFastCGIConnection;
class TFastCGIParams;

class TFastCGIRequestSource final : public TRequestSource {
 public:
  // `connection` holds the request, whose head has come whole, and
  // outlives this source. `ownErrors`: what the request writes to its error
  // stream goes to the process's standard error instead of the web server.
  explicit TFastCGIRequestSource(TFastCGIConnection& connection, bool ownErrors = false)
      : fConnection(connection), fOwnErrors(ownErrors) {}

  // As in a CGI process's environment: a name holding NUL or "=" names no
  // variable, and a value ends at its first NUL.
  std::string Variable(const std::string& name) override;
  int64_t ReadInput(char* buffer, int64_t count) override;
  int64_t WriteOutput(const char* buffer, int64_t count) override;
  void WriteError(std::string_view text) override;

  // Every parameter as the web server sent it, for hooks that look at more
  // than the variables they know by name (an access log, a status page).
  const TFastCGIParams& Parameters() const;
  // The answer's HTTP status from its head so far: 200 without a Status line.
  int Status() const { return fStatus.Status(); }

 private:
  TFastCGIConnection& fConnection;
  bool fOwnErrors;
  bool fReading = false, fWriting = false;
  TFastCGIAnswerStatus fStatus;
};

}  // namespace nemvo
