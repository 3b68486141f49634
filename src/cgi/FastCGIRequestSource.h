#pragma once
// A FastCGI request as the request classes see it: its parameters are the
// variables, its input stream the body, its output stream the answer.
#include "cgi/RequestSource.h"

struct FCGX_Request;

namespace nemvo {

class TFastCGIRequestSource final : public TRequestSource {
 public:
  // `request` has been accepted and outlives this source.
  explicit TFastCGIRequestSource(FCGX_Request& request) : fRequest(request) {}

  std::string Variable(const std::string& name) override;
  int64_t ReadInput(char* buffer, int64_t count) override;
  int64_t WriteOutput(const char* buffer, int64_t count) override;

 private:
  FCGX_Request& fRequest;
};

}  // namespace nemvo
