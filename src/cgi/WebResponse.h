#pragma once
// The response as the dispatcher and the actions fill it. TCGIResponse
// formats and sends it through its request.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Stream.h"
#include "base/StringList.h"

namespace nemvo {

class TWebRequest;
class TCookieCollection;

// String field indices of a response.
enum TResponseStringField : int {
  rsVersion = 0, rsReasonText = 1, rsServer = 2, rsWWWAuthenticate = 3, rsRealm = 4, rsAllow = 5,
  rsLocation = 6, rsContentEncoding = 7, rsContentType = 8, rsContentVersion = 9, rsDerivedFrom = 10,
  rsTitle = 11
};
enum TResponseDateField : int { rdDate = 0, rdExpires = 1, rdLastModified = 2 };

class TWebResponse {
 public:
  explicit TWebResponse(TWebRequest& request);
  virtual ~TWebResponse();
  TWebResponse(const TWebResponse&) = delete;
  TWebResponse& operator=(const TWebResponse&) = delete;

  virtual std::string GetStringField(int index) = 0;
  virtual void SetStringField(int index, const std::string& value) = 0;
  virtual double GetDateField(int index) = 0;
  virtual void SetDateField(int index, double value) = 0;
  virtual int64_t GetIntegerField(int index) = 0;
  virtual void SetIntegerField(int index, int64_t value) = 0;
  virtual std::string GetContent() = 0;
  // Taken by value: a page of a hundred KiB is moved in, not copied.
  virtual void SetContent(std::string text) = 0;
  virtual void SetContentStream(std::unique_ptr<TStream> stream);
  virtual int GetStatusCode() = 0;
  virtual void SetStatusCode(int code) = 0;
  virtual std::string GetLogMessage() = 0;
  virtual void SetLogMessage(const std::string& text) = 0;
  virtual void SendResponse() = 0;
  virtual void SendRedirect(const std::string& uri) = 0;
  virtual void SendStream(TStream& stream) = 0;
  virtual bool Sent() { return false; }

  int StatusCode() { return GetStatusCode(); }
  std::string ReasonText() { return GetStringField(rsReasonText); }
  void SetReasonText(const std::string& v) { SetStringField(rsReasonText, v); }
  std::string ContentType() { return GetStringField(rsContentType); }
  void SetContentType(const std::string& v) { SetStringField(rsContentType, v); }
  std::string Content() { return GetContent(); }
  int64_t ContentLength() { return GetIntegerField(0); }
  void SetContentLength(int64_t v) { SetIntegerField(0, v); }
  std::string WWWAuthenticate() { return GetStringField(rsWWWAuthenticate); }
  void SetWWWAuthenticate(const std::string& v) { SetStringField(rsWWWAuthenticate, v); }
  std::string Realm() { return GetStringField(rsRealm); }
  void SetRealm(const std::string& v) { SetStringField(rsRealm, v); }
  std::string Allow() { return GetStringField(rsAllow); }
  void SetAllow(const std::string& v) { SetStringField(rsAllow, v); }
  std::string Location() { return GetStringField(rsLocation); }
  void SetLocation(const std::string& v) { SetStringField(rsLocation, v); }
  std::string ContentEncoding() { return GetStringField(rsContentEncoding); }
  void SetContentEncoding(const std::string& v) { SetStringField(rsContentEncoding, v); }
  std::string ContentVersion() { return GetStringField(rsContentVersion); }
  void SetContentVersion(const std::string& v) { SetStringField(rsContentVersion, v); }
  std::string DerivedFrom() { return GetStringField(rsDerivedFrom); }
  void SetDerivedFrom(const std::string& v) { SetStringField(rsDerivedFrom, v); }
  std::string Title() { return GetStringField(rsTitle); }
  void SetTitle(const std::string& v) { SetStringField(rsTitle, v); }
  // Date-time values: days since 30 December 1899; -1 when not set.
  double Date() { return GetDateField(rdDate); }
  void SetDate(double v) { SetDateField(rdDate, v); }
  double Expires() { return GetDateField(rdExpires); }
  void SetExpires(double v) { SetDateField(rdExpires, v); }
  double LastModified() { return GetDateField(rdLastModified); }
  void SetLastModified(double v) { SetDateField(rdLastModified, v); }

  TStream* ContentStream() const { return fContentStream.get(); }
  TCookieCollection& Cookies() { return *fCookies; }
  TStringList& CustomHeaders() { return fCustomHeaders; }
  TWebRequest& HTTPRequest() const { return fRequest; }

 protected:
  std::unique_ptr<TStream> fContentStream;
  std::unique_ptr<TCookieCollection> fCookies;
  TWebRequest& fRequest;  // not owned: the request outlives its response
  TStringList fCustomHeaders;
};

}  // namespace nemvo
