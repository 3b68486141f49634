#include "cgi/CGIResponse.h"

#include <vector>

#include "base/Format.h"
#include "base/HTMLEscape.h"
#include "cgi/Cookie.h"
#include "cgi/HeaderSafeText.h"
#include "cgi/HTTPDate.h"
#include "cgi/WebRequest.h"

namespace nemvo {

namespace {

struct Reason {
  int code;
  const char* text;
};

constexpr Reason kReasons[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "None Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Unless True"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

constexpr int64_t kSendBlock = 8192;

}  // namespace

TCGIResponse::TCGIResponse(TWebRequest& request) : TWebResponse(request) { InitResponse(); }

std::string TCGIResponse::ReasonPhrase(int code) {
  for (const Reason& r : kReasons)
    if (r.code == code) return r.text;
  return {};
}

void TCGIResponse::InitResponse() {
  SetStatusCode(200);
  SetLastModified(-1);
  SetExpires(-1);
  SetDate(-1);
  SetContentType("text/html");
}

std::string TCGIResponse::GetStringField(int index) {
  if (index < 0 || index >= int(fStringFields.size())) return {};
  return fStringFields[size_t(index)];
}

void TCGIResponse::SetStringField(int index, const std::string& value) {
  if (index < 0 || index >= int(fStringFields.size())) return;
  fStringFields[size_t(index)] = value;
}

double TCGIResponse::GetDateField(int index) {
  if (index < 0 || index >= int(fDateFields.size())) return -1;
  return fDateFields[size_t(index)];
}

void TCGIResponse::SetDateField(int index, double value) {
  if (index < 0 || index >= int(fDateFields.size())) return;
  fDateFields[size_t(index)] = value;
}

int64_t TCGIResponse::GetIntegerField(int index) { return index == 0 ? fContentLength : -1; }

void TCGIResponse::SetIntegerField(int index, int64_t value) {
  if (index == 0) fContentLength = value;
}

void TCGIResponse::SetContent(std::string text) {
  fContent = std::move(text);
  if (!fContentStream) fContentLength = int64_t(fContent.size());
}

void TCGIResponse::SetContentStream(std::unique_ptr<TStream> stream) {
  if (stream.get() == fContentStream.get()) {
    stream.release();  // the same stream handed in again: we own it already
    return;
  }
  TWebResponse::SetContentStream(std::move(stream));
  fContentLength = fContentStream ? fContentStream->Size() : int64_t(fContent.size());
}

void TCGIResponse::SetStatusCode(int code) {
  if (code == fStatusCode) return;
  fStatusCode = code;
  SetReasonText(ReasonPhrase(code));
}

std::string TCGIResponse::HeaderText() {
  std::string headers;
  // Whatever a value holds, it stays on its own line: a module may one day
  // set one from what a request carries.
  auto line = [&headers](std::string_view format, const std::string& item) {
    if (!item.empty()) headers += Format(format, HeaderSafeText(item));
  };
  line("Location: %s\r\n", Location());
  line("Allow: %s\r\n", Allow());
  for (int i = 0; i < Cookies().Count(); ++i) line("Set-Cookie: %s\r\n", Cookies().Items(i).HeaderValue());
  line("Derived-From: %s\r\n", DerivedFrom());
  if (Expires() > 0) line("Expires: %s\r\n", HTTPDateText(Expires()));
  if (LastModified() > 0) line("Last-Modified: %s\r\n", HTTPDateText(LastModified()));
  line("Title: %s\r\n", Title());
  if (Realm().empty())
    line("WWW-Authenticate: %s\r\n", WWWAuthenticate());
  else
    line("WWW-Authenticate: %s\r\n", Format("%s Realm=%s", WWWAuthenticate(), Realm()));
  for (int i = 0; i < CustomHeaders().Count(); ++i) {
    const std::string name = CustomHeaders().Names(i);
    headers += Format("%s: %s\r\n", HeaderSafeText(name), HeaderSafeText(CustomHeaders().Values(name)));
  }
  line("Content-Version: %s\r\n", ContentVersion());
  line("Content-Encoding: %s\r\n", ContentEncoding());
  line("Content-Type: %s\r\n", ContentType());
  if (!fContent.empty() || fContentStream) headers += Format("Content-Length: %d\r\n", ContentLength());
  return headers;
}

void TCGIResponse::SendResponse() {
  TWebRequest& request = HTTPRequest();
  if (!request.ProtocolVersion().empty()) {
    const std::string status =
        !ReasonText().empty() && StatusCode() > 0 ? Format("%d %s", StatusCode(), HeaderSafeText(ReasonText()))
                                                   : "200 OK";
    std::string headers = HeaderText();
    headers += "Content:\r\n\r\n";
    request.WriteHeaders(StatusCode(), status, headers);
  }
  if (!fContentStream) {
    request.WriteText(fContent);
  } else {
    SendStream(*fContentStream);
    SetContentStream(nullptr);
  }
  fSent = true;
}

void TCGIResponse::SendRedirect(const std::string& uri) {
  SetLocation(uri);
  SetStatusCode(302);
  SetContentType("text/html");
  SetContent(Format(
      "<html><title>Document Moved 302</title>\r\n"
      "<body><h1>Object Moved</h1><hr>\r\n"
      "This Object may be found <a HREF=\"%s\">here.</a><br>\r\n"
      "<br></body></html>\r\n",
      HTMLEscape(uri)));
  SendResponse();
}

void TCGIResponse::SendStream(TStream& stream) {
  std::vector<char> block(kSendBlock);
  for (;;) {
    const int64_t n = stream.Read(block.data(), kSendBlock);
    if (n <= 0) break;
    HTTPRequest().WriteRaw(block.data(), n);
  }
}

}  // namespace nemvo
