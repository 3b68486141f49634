#pragma once
// What the request cycle asks of the component that dispatches a request.
// The web module (a TCustomWebDispatcher) implements both interfaces; the
// request cycle finds it among a module's components by these interfaces.
namespace nemvo {

class Exception;
class TWebRequest;
class TWebResponse;

class IWebRequestHandler {
 public:
  virtual ~IWebRequestHandler() = default;
  // True when the request was handled.
  virtual bool RouteRequest(TWebRequest& request, TWebResponse& response) = 0;
};

class IWebExceptionReporter {
 public:
  virtual ~IWebExceptionReporter() = default;
  // Turns E into a response; sets handled when it did.
  virtual void ReportException(const Exception& E, bool& handled) = 0;
};

}  // namespace nemvo
