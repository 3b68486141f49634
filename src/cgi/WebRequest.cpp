#include "cgi/WebRequest.h"

#include "cgi/ContentParser.h"

namespace nemvo {

TWebRequest::TWebRequest() = default;
TWebRequest::~TWebRequest() = default;

const std::string& TWebRequest::ContentText() {
  fContentText = GetStringField(rfContent);
  return fContentText;
}

TStringList& TWebRequest::ContentFieldList() {
  if (!fContentParser) fContentParser = CreateContentParser(*this);
  return fContentParser->ContentFields();
}

}  // namespace nemvo
