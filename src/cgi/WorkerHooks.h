#pragma once
// What a FastCGI worker tells the pool it belongs to about each request, and
// the requests the pool answers itself (its status and ping paths) without
// the request cycle. Set on the worker's application; a worker without hooks
// (one started by a web server on its own socket) serves every request
// through the cycle.
#include <string_view>

namespace nemvo {

class TRequestSource;

class IWorkerHooks {
 public:
  virtual ~IWorkerHooks() = default;
  // A request's head has arrived whole. True when the hooks have answered
  // the request themselves through `source`: the request cycle does not run.
  virtual bool RequestBegun(TRequestSource& source) = 0;
  // The request is over: its answer complete (`status` from its head, 200
  // when the head names none) or, status 0, given up because the web server
  // went or stalled.
  virtual void RequestEnded(int status) = 0;
  // A request the worker refused before the cycle could see it (parameters
  // beyond the limits, a role it does not play); `status` is the HTTP status
  // answered (0: none could be), `why` says what was wrong, for the log.
  virtual void RequestRefused(int status, std::string_view why) = 0;
};

}  // namespace nemvo
