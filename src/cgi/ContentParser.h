#pragma once
// Parsers of a request's body into form fields. A registry of parser classes
// is searched from its last entry to its first; the default parser takes
// every request no registered class accepts.
#include <memory>

#include "base/StringList.h"

namespace nemvo {

class TWebRequest;

// Files uploaded with a request.
class TAbstractWebRequestFiles {
 public:
  virtual ~TAbstractWebRequestFiles() = default;
  virtual int Count() const = 0;
};

class TAbstractContentParser {
 public:
  explicit TAbstractContentParser(TWebRequest& request) : fRequest(request) {}
  virtual ~TAbstractContentParser() = default;
  TAbstractContentParser(const TAbstractContentParser&) = delete;
  TAbstractContentParser& operator=(const TAbstractContentParser&) = delete;

  virtual TStringList& ContentFields() = 0;
  virtual TAbstractWebRequestFiles& Files() = 0;

 protected:
  TWebRequest& fRequest;  // not owned: the request owns its parser
};

// A parser class: whether it can parse a request, and how to make one.
struct TContentParserClass {
  bool (*CanParse)(TWebRequest& request);
  std::unique_ptr<TAbstractContentParser> (*Create)(TWebRequest& request);
};

// Adds a parser class to the registry; later registrations are asked first.
void RegisterContentParser(const TContentParserClass& parserClass);
// Removes every registration of the class (its CanParse entry).
void UnregisterContentParser(const TContentParserClass& parserClass);

// The parser for `request`: the last registered class that can parse it, or
// the default parser.
std::unique_ptr<TAbstractContentParser> CreateContentParser(TWebRequest& request);

}  // namespace nemvo
