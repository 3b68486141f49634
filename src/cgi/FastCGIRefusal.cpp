#include "cgi/FastCGIRefusal.h"

#include "base/Format.h"
#include "cgi/FastCGIOwnAnswer.h"

namespace nemvo {

namespace {

const char* RoleName(uint16_t role) {
  switch (role) {
    case fastcgi::kAuthorizer: return "authorizer";
    case fastcgi::kFilter: return "filter";
    default: return "unknown";
  }
}

}  // namespace

TFastCGIRefusal TFastCGIRefusal::For(const TFastCGIConnection& connection, const TFastCGILimits& limits) {
  TFastCGIRefusal refusal;
  switch (connection.Refusal()) {
    case TFastCGIConnection::TRefusal::None:
      break;
    case TFastCGIConnection::TRefusal::Role:
      refusal.why = Format("FastCGI role %d (%s) refused: only the responder role is played", connection.Role(),
                           RoleName(connection.Role()));
      break;
    case TFastCGIConnection::TRefusal::ParamBytes:
      refusal.status = 431;
      refusal.why = Format("request parameters beyond %d bytes", limits.maxParamBytes);
      refusal.answer = FastCGIOwnAnswer(431, "Request Header Fields Too Large");
      break;
    case TFastCGIConnection::TRefusal::ParamCount:
      refusal.status = 431;
      refusal.why = Format("more than %d request parameters", limits.maxParams);
      refusal.answer = FastCGIOwnAnswer(431, "Request Header Fields Too Large");
      break;
    case TFastCGIConnection::TRefusal::ParamsCut:
      refusal.status = 400;
      refusal.why = "request parameters cut off inside a name-value pair";
      refusal.answer = FastCGIOwnAnswer(400, "Bad Request");
      break;
  }
  return refusal;
}

}  // namespace nemvo
