#include "cgi/RequestSource.h"

#include "platform/Environment.h"
#include "platform/StandardStreams.h"

namespace nemvo {

std::string TProcessRequestSource::Variable(const std::string& name) { return platform::EnvironmentVariable(name); }

int64_t TProcessRequestSource::ReadInput(char* buffer, int64_t count) {
  return platform::ReadStandardInput(buffer, count);
}

int64_t TProcessRequestSource::WriteOutput(const char* buffer, int64_t count) {
  return platform::WriteStandardOutput(buffer, count);
}

void TRequestSource::WriteError(std::string_view text) { platform::WriteStandardError(text); }

TProcessRequestSource& TProcessRequestSource::Instance() {
  static TProcessRequestSource source;
  return source;
}

}  // namespace nemvo
