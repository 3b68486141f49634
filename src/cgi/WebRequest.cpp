#include "cgi/WebRequest.h"

#include "cgi/ContentParser.h"
#include "platform/StandardStreams.h"

namespace nemvo {

TWebRequest::TWebRequest() = default;
TWebRequest::~TWebRequest() = default;

void TWebRequest::WriteLog(const std::string& text) { platform::WriteStandardError(text); }

const std::string& TWebRequest::ContentText() {
  fContentText = GetStringField(rfContent);
  return fContentText;
}

TStringList& TWebRequest::ContentFieldList() {
  if (!fContentParser) fContentParser = CreateContentParser(*this);
  return fContentParser->ContentFields();
}

}  // namespace nemvo
