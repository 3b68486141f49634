#pragma once
// Makes the request and the response of a CGI application.
#include <memory>

namespace nemvo {

class TCGIApplication;
class TRequestSource;
class TWebRequest;
class TWebResponse;

class TCGIFactory {
 public:
  // Installs the application's HandleCGIException as ApplicationExceptionHandler.
  explicit TCGIFactory(TCGIApplication& application);
  virtual ~TCGIFactory() = default;
  TCGIFactory(const TCGIFactory&) = delete;
  TCGIFactory& operator=(const TCGIFactory&) = delete;

  // A TCGIRequest from `source`, which reads the body while it is made.
  // Only the stream form exists; outside console mode this raises.
  virtual std::unique_ptr<TWebRequest> CreateRequest(TRequestSource& source);
  virtual std::unique_ptr<TWebResponse> CreateResponse(TWebRequest& request);

 private:
  TCGIApplication& fApplication;  // not owned: the application owns this factory
};

}  // namespace nemvo
