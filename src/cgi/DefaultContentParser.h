#pragma once
// The parser used when no registered parser class takes a request: splits a
// URL-encoded body at "&" into name=value lines.
#include "cgi/ContentParser.h"

namespace nemvo {

class TContentParser : public TAbstractContentParser {
 public:
  using TAbstractContentParser::TAbstractContentParser;

  // Built once, on the first call. Only a positive ContentLength makes a body
  // count; the content type, the method and the query string are not looked
  // at. A decoding error leaves the lines before the bad field, and later
  // calls return that partial list without raising again.
  TStringList& ContentFields() override;
  TAbstractWebRequestFiles& Files() override { return fFiles; }

 private:
  class TNoFiles : public TAbstractWebRequestFiles {
   public:
    int Count() const override { return 0; }
  };

  TStringList fContentFields;
  bool fBuilt = false;
  TNoFiles fFiles;
};

}  // namespace nemvo
