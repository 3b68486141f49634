#pragma once
// What a FastCGI worker answers for a request it refuses before the request
// cycle sees it, and what it tells the pool's log about it.
#include <cstdint>
#include <string>

#include "cgi/FastCGIConnection.h"
#include "cgi/FastCGILimits.h"

namespace nemvo {

struct TFastCGIRefusal {
  // The HTTP status answered; 0 when the refusal is the protocol's own (an
  // end-request record saying FCGI_UNKNOWN_ROLE) and no answer is written.
  int status = 0;
  // What was wrong, for the log.
  std::string why;
  // The whole answer for the output stream: head and a short page.
  std::string answer;

  // For the request in hand on a connection that refuses it.
  static TFastCGIRefusal For(const TFastCGIConnection& connection, const TFastCGILimits& limits);
};

}  // namespace nemvo
