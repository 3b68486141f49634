#include "cgi/DefaultContentParser.h"

#include "cgi/HTTPFields.h"
#include "cgi/WebRequest.h"

namespace nemvo {

TStringList& TContentParser::ContentFields() {
  if (fBuilt) return fContentFields;
  fBuilt = true;
  const int32_t length = fRequest.ContentLength();
  if (length > 0) {
    // Split over the stored body itself: a copy would hold the body twice.
    const std::string& content = fRequest.ContentText();
    std::string more;
    if (content.size() < size_t(length)) more = fRequest.ReadBodyText(int64_t(length) - int64_t(content.size()));
    if (more.empty()) {
      SplitHTTPFields(CharSet("&"), TCharSet(), content, fContentFields, false);
    } else {
      std::string text;
      text.reserve(content.size() + more.size());
      text.append(content).append(more);
      more = std::string();
      SplitHTTPFields(CharSet("&"), TCharSet(), text, fContentFields, false);
    }
  }
  return fContentFields;
}

}  // namespace nemvo
