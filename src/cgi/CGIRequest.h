#pragma once
// The request as a CGI web server passes it: request line and headers in
// variables, the body as input, and the channel through which the response
// is sent, all from a request source: the process's environment and standard
// streams, or a FastCGI request's parameters and streams.
#include "cgi/RequestSource.h"
#include "cgi/WebRequest.h"

namespace nemvo {

class TCGIRequest : public TWebRequest {
 public:
  // Sets the method type and reads the body: as many bytes as
  // CONTENT_LENGTH claims, or fewer when the input ends first.
  explicit TCGIRequest(TRequestSource& source);
  // From the process's environment and standard streams.
  TCGIRequest();

  std::string GetStringField(int index) override;
  const std::string& ContentText() override { return fContent; }
  // -1 when the field is empty or is no HTTP date.
  double GetDateField(int index) override;
  // -1 when the field is empty or no signed 32-bit decimal number.
  int32_t GetIntegerField(int index) override;
  int64_t ReadBody(char* buffer, int64_t count) override;
  // Reads into one text, reserved at the claimed size once more than a block
  // has come: the body is held once, and memory in use follows the bytes that
  // arrive, not the size claimed.
  std::string ReadBodyText(int64_t count) override;
  std::string TranslateURI(const std::string& uri) override;
  int64_t WriteRaw(const char* buffer, int64_t count) override;
  bool WriteText(const std::string& text) override;
  bool WriteHeaders(int statusCode, const std::string& statusText, const std::string& headers) override;
  // The variable `name`; when it is unset or empty, the one named without
  // the leading "HTTP_", or with "HTTP_" in front when it has none.
  std::string GetFieldByName(const std::string& name) override;
  void WriteLog(const std::string& text) override { fSource.WriteError(text); }

  // The environment variable read for a field index; empty for index 25
  // (the stored body) and for indices outside the table.
  static const char* FieldVariable(int index);

 private:
  TRequestSource& fSource;  // not owned: outlives the request
  std::string fContent;
};

}  // namespace nemvo
