#pragma once
// The response as a CGI program writes it on standard output, through its
// request: a "Status:" line, header lines, the "Content:" line and an empty
// line in one write, then the body.
#include <array>

#include "cgi/WebResponse.h"

namespace nemvo {

class TCGIResponse : public TWebResponse {
 public:
  explicit TCGIResponse(TWebRequest& request);

  std::string GetStringField(int index) override;
  void SetStringField(int index, const std::string& value) override;
  double GetDateField(int index) override;
  void SetDateField(int index, double value) override;
  int64_t GetIntegerField(int index) override;
  void SetIntegerField(int index, int64_t value) override;
  std::string GetContent() override { return fContent; }
  // Also sets ContentLength to the text's length when no stream is set.
  void SetContent(std::string text) override;
  void SetContentStream(std::unique_ptr<TStream> stream) override;
  int GetStatusCode() override { return fStatusCode; }
  // A new code brings its reason phrase (empty for a code without one);
  // setting the current code again keeps ReasonText.
  void SetStatusCode(int code) override;
  std::string GetLogMessage() override { return {}; }
  void SetLogMessage(const std::string&) override {}
  // Writes the response; does not look at Sent itself.
  void SendResponse() override;
  void SendRedirect(const std::string& uri) override;
  // From the stream's position to its end, in blocks of at most 8192 bytes.
  void SendStream(TStream& stream) override;
  bool Sent() override { return fSent; }

  // Status 200 "OK", no dates, content type "text/html".
  virtual void InitResponse();

  // The reason phrase of an HTTP status code, empty for an unknown one.
  static std::string ReasonPhrase(int code);

 private:
  std::string HeaderText();

  int fStatusCode = 0;
  std::array<std::string, 12> fStringFields;
  int64_t fContentLength = 0;
  std::array<double, 3> fDateFields{-1, -1, -1};
  std::string fContent;
  bool fSent = false;
};

}  // namespace nemvo
