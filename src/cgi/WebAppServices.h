#pragma once
// The object that carries one request through the modules of a list. A
// module may provide its own; otherwise the request cycle makes a
// TDefaultWebAppServices.
#include <memory>

namespace nemvo {

class TComponent;
class TWebModuleList;
class TWebRequest;
class TWebResponse;

class IWebAppServices {
 public:
  virtual ~IWebAppServices() = default;
  // Binds the object to the list, the request and the response; all three
  // outlive the binding.
  virtual void InitContext(TWebModuleList& list, TWebRequest& request, TWebResponse& response) = 0;
  // True when the request was handled.
  virtual bool HandleRequest() = 0;
  virtual void FinishContext() = 0;
  // The component that turns an escaped exception into a response, or null.
  virtual TComponent* ExceptionHandler() = 0;
};

// Implemented by a module that provides its own services object.
class IGetWebAppServices {
 public:
  virtual ~IGetWebAppServices() = default;
  // Null when the module provides none.
  virtual std::shared_ptr<IWebAppServices> GetWebAppServices() = 0;
};

}  // namespace nemvo
