#include "cgi/WebRequest.h"

#include "cgi/ContentParser.h"

namespace nemvo {

TWebRequest::TWebRequest() = default;
TWebRequest::~TWebRequest() = default;

}  // namespace nemvo
