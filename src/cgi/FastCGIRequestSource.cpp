#include "cgi/FastCGIRequestSource.h"

#include "base/RequestProgress.h"
#include "cgi/FastCGIConnection.h"

namespace nemvo {

std::string TFastCGIRequestSource::Variable(const std::string& name) {
  if (name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos) return {};
  const std::optional<std::string_view> value = fConnection.Params().Find(name);
  if (!value) return {};
  return std::string(value->substr(0, value->find('\0')));
}

int64_t TFastCGIRequestSource::ReadInput(char* buffer, int64_t count) {
  if (!fReading) {
    fReading = true;
    ReportRequestPhase(TRequestPhase::ReadingBody);
  }
  // A body cut short (the web server went, stalled or gave the request up)
  // ends where it was cut, as a closed standard input does.
  return fConnection.ReadBody(buffer, count);
}

int64_t TFastCGIRequestSource::WriteOutput(const char* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (!fWriting) {
    fWriting = true;
    ReportRequestPhase(TRequestPhase::Writing);
  }
  const std::string_view bytes(buffer, size_t(count));
  fStatus.Feed(bytes);
  return fConnection.WriteStream(fastcgi::kStdout, bytes) ? count : -1;
}

void TFastCGIRequestSource::WriteError(std::string_view text) {
  if (fOwnErrors) return TRequestSource::WriteError(text);
  // The web server logs a request's error stream as it arrives.
  fConnection.WriteStream(fastcgi::kStderr, text);
}

const TFastCGIParams& TFastCGIRequestSource::Parameters() const { return fConnection.Params(); }

}  // namespace nemvo
