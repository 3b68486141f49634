#pragma once
// The process-wide handler for exceptions that library code catches but
// cannot answer itself. Call it only from inside a catch block: it works on
// the exception being handled, and either answers it (returns) or raises it
// again. Sender is the component that may turn it into a response, or null.
//
//   try { ... } catch (...) {
//     if (ApplicationExceptionHandler) ApplicationExceptionHandler(nullptr); else throw;
//   }
//
// The application sets it while it exists; during a request it is the CGI
// application's HandleCGIException.
#include <functional>

namespace nemvo {

class TComponent;

using TApplicationExceptionHandler = std::function<void(TComponent* sender)>;

inline TApplicationExceptionHandler ApplicationExceptionHandler;

}  // namespace nemvo
