#pragma once
// A FastCGI request as the request classes see it: its parameters are the
// variables, its input stream the body, its output stream the answer.
#include "cgi/RequestSource.h"

struct FCGX_Request;

namespace nemvo {

class TFastCGIRequestSource final : public TRequestSource {
 public:
  // `request` has been accepted and outlives this source.
  // `ownErrors`: what the request writes to its error stream goes to the
  // process's standard error instead of the web server.
  explicit TFastCGIRequestSource(FCGX_Request& request, bool ownErrors = false)
      : fRequest(request), fOwnErrors(ownErrors) {}

  std::string Variable(const std::string& name) override;
  int64_t ReadInput(char* buffer, int64_t count) override;
  int64_t WriteOutput(const char* buffer, int64_t count) override;
  void WriteError(std::string_view text) override;

 private:
  FCGX_Request& fRequest;
  bool fOwnErrors;
};

}  // namespace nemvo
