#pragma once
// The handlers of web dispatch. Sender is the object that raises the event:
// the module for BeforeDispatch, AfterDispatch and OnException, the action
// for OnAction. Handled comes in with the value the caller documents and
// goes back as the handler leaves it.
#include <functional>

namespace nemvo {

class Exception;
class TObject;
class TWebRequest;
class TWebResponse;

using THTTPMethodEvent =
    std::function<void(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled)>;
using TWebExceptionEvent = std::function<void(TObject* sender, const Exception& E, bool& handled)>;

}  // namespace nemvo
