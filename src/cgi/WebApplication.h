#pragma once
// The application object of a web program: a request handler that installs
// the process-wide exception handler while it exists.
#include <functional>

#include "cgi/WebRequestHandler.h"

namespace nemvo {

// Called by Initialize when set. Parts of the program that need work done at
// start-up, before the first request, may set it; nothing on the request
// path depends on it.
inline std::function<void()> StartupHook;

class TWebApplication : public TWebRequestHandler {
  NEMVO_COMPONENT(TWebApplication, TWebRequestHandler)

 public:
  // Installs HandleWebException as ApplicationExceptionHandler.
  explicit TWebApplication(TComponent* owner = nullptr);
  // Clears ApplicationExceptionHandler.
  ~TWebApplication() override;

  // Calls StartupHook when it is set.
  virtual void Initialize();
  virtual void Run() {}

  // For the exception being handled (call only inside a catch block): lets
  // `sender`, when it reports exceptions, turn it into a response; whatever
  // stays unanswered, and whatever the reporter raises, is reported on
  // standard error. Never raises.
  void HandleWebException(TComponent* sender);
};

}  // namespace nemvo
