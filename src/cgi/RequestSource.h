#pragma once
// Where a request comes from and where its answer goes: the request's
// variables, its input (the body) and its output. A CGI process takes them
// from its environment and standard streams (TProcessRequestSource); a
// FastCGI worker from the request's parameters and streams. The request
// classes see only this, so both hosts write every byte of the answer alike.
#include <cstdint>
#include <string>
#include <string_view>

namespace nemvo {

class TRequestSource {
 public:
  virtual ~TRequestSource() = default;

  // The variable `name`, whole; empty when it is not set.
  virtual std::string Variable(const std::string& name) = 0;
  // One read of up to `count` bytes of the body: the number read, 0 at its
  // end, -1 on an error.
  virtual int64_t ReadInput(char* buffer, int64_t count) = 0;
  // Writes `count` bytes of the answer: the number taken, or -1 when an
  // error came before any byte was taken.
  virtual int64_t WriteOutput(const char* buffer, int64_t count) = 0;
  // Writes to the request's error stream, which the web server keeps in its
  // error log; failures are ignored. By default the process's standard error.
  virtual void WriteError(std::string_view text);
};

// The CGI process's own: environment, standard input, standard output.
class TProcessRequestSource final : public TRequestSource {
 public:
  std::string Variable(const std::string& name) override;
  int64_t ReadInput(char* buffer, int64_t count) override;
  int64_t WriteOutput(const char* buffer, int64_t count) override;

  // The one every CGI request of this process uses.
  static TProcessRequestSource& Instance();
};

}  // namespace nemvo
