#pragma once
// Parsers of a request's body into form fields. A registry of parser classes
// is searched from its last entry to its first; the default parser takes
// every request no registered class accepts.
#include "base/StringList.h"

namespace nemvo {

class TWebRequest;

class TAbstractContentParser {
 public:
  explicit TAbstractContentParser(TWebRequest& request) : fRequest(request) {}
  virtual ~TAbstractContentParser() = default;
  virtual TStringList& ContentFields() = 0;

 protected:
  TWebRequest& fRequest;  // not owned: the request owns its parser
};

}  // namespace nemvo
