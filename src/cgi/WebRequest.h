#pragma once
// The request as every part of the program sees it. TCGIRequest supplies it
// from the CGI environment and standard input.
#include <cstdint>
#include <memory>
#include <string>

#include "base/StringList.h"

namespace nemvo {

enum TMethodType { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

class TAbstractContentParser;

// Field indices (the table of request fields).
enum TRequestField : int {
  rfMethod = 0, rfProtocolVersion, rfURL, rfQuery, rfPathInfo, rfPathTranslated, rfCacheControl,
  rfDate, rfAccept, rfFrom, rfHost, rfIfModifiedSince, rfReferer, rfUserAgent, rfContentEncoding,
  rfContentType, rfContentLength, rfContentVersion, rfDerivedFrom, rfExpires, rfTitle, rfRemoteAddr,
  rfRemoteHost, rfScriptName, rfServerPort, rfContent, rfConnection, rfCookie, rfAuthorization,
  rfFieldCount
};

class TWebRequest {
 public:
  TWebRequest();
  virtual ~TWebRequest();
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  virtual std::string GetStringField(int index) = 0;
  virtual double GetDateField(int index) = 0;
  virtual int32_t GetIntegerField(int index) = 0;
  virtual std::string InternalPathInfo() { return GetStringField(rfPathInfo); }
  virtual std::string InternalScriptName() { return GetStringField(rfScriptName); }
  virtual int64_t ReadBody(char* buffer, int64_t count) = 0;
  virtual std::string ReadBodyText(int64_t count) = 0;
  virtual std::string TranslateURI(const std::string& uri) = 0;
  virtual int64_t WriteRaw(const char* buffer, int64_t count) = 0;
  virtual bool WriteText(const std::string& text) = 0;
  virtual bool WriteHeaders(int statusCode, const std::string& statusText, const std::string& headers) = 0;
  virtual std::string GetFieldByName(const std::string& name) = 0;
  // Writes `text` to the request's error stream (the web server's error
  // log); by default the process's standard error.
  virtual void WriteLog(const std::string& text);

  TMethodType MethodType() const { return fMethodType; }

  std::string Method() { return GetStringField(rfMethod); }
  std::string ProtocolVersion() { return GetStringField(rfProtocolVersion); }
  std::string Query() { return GetStringField(rfQuery); }
  std::string PathInfo() { return GetStringField(rfPathInfo); }
  std::string PathTranslated() { return GetStringField(rfPathTranslated); }
  std::string ScriptName() { return GetStringField(rfScriptName); }
  std::string Content() { return GetStringField(rfContent); }
  // The stored body without a copy of it, for readers of a large body; valid
  // while the request lives. A request class that keeps its body overrides
  // this; the default keeps one copy of the field.
  virtual const std::string& ContentText();
  int32_t ContentLength() { return GetIntegerField(rfContentLength); }

  // The decoded form fields of the body, built on first use; the same list
  // on every later use (also after a decoding error cut it short).
  TStringList& ContentFieldList();

 protected:
  TMethodType fMethodType = mtAny;

 private:
  std::unique_ptr<TAbstractContentParser> fContentParser;
  std::string fContentText;
};

}  // namespace nemvo
