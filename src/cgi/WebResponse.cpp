#include "cgi/WebResponse.h"

#include "cgi/Cookie.h"

namespace nemvo {

TWebResponse::TWebResponse(TWebRequest& request)
    : fCookies(std::make_unique<TCookieCollection>(*this)), fRequest(request) {}

TWebResponse::~TWebResponse() = default;

void TWebResponse::SetContentStream(std::unique_ptr<TStream> stream) { fContentStream = std::move(stream); }

}  // namespace nemvo
