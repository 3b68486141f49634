#include "cgi/Cookie.h"

#include "base/Format.h"
#include "cgi/HTTPDate.h"
#include "cgi/URLEncode.h"

namespace nemvo {

std::string TCookie::HeaderValue() const {
  std::string text = Format("%s=%s; ", URLEncode(Name), URLEncode(Value));
  if (!Domain.empty()) text += Format("domain=%s; ", Domain);
  if (!Path.empty()) text += Format("path=%s; ", Path);
  if (Expires > -1) text += Format("expires=%s; ", HTTPDateText(Expires));
  if (Secure) text += "secure";
  if (text.ends_with("; ")) text.resize(text.size() - 2);
  return text;
}

}  // namespace nemvo
