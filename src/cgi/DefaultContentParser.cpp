#include "cgi/DefaultContentParser.h"

#include "cgi/HTTPFields.h"
#include "cgi/WebRequest.h"

namespace nemvo {

TStringList& TContentParser::ContentFields() {
  if (fBuilt) return fContentFields;
  fBuilt = true;
  const int32_t length = fRequest.ContentLength();
  if (length > 0) {
    std::string text = fRequest.Content();
    if (text.size() < size_t(length)) text += fRequest.ReadBodyText(int64_t(length) - int64_t(text.size()));
    SplitHTTPFields(CharSet("&"), TCharSet(), text, fContentFields, false);
  }
  return fContentFields;
}

}  // namespace nemvo
