#pragma once
// The root of the program's own exceptions and the family members that more
// than one folder raises. A folder's own exceptions live beside its code.
#include <exception>
#include <string>

#include "base/Format.h"

namespace nemvo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : fMessage(std::move(message)) {}
  template <class... Args>
  static Exception Fmt(std::string_view format, const Args&... args) {
    return Exception(Format(format, args...));
  }
  virtual ~Exception() = default;

  const std::string& Message() const noexcept { return fMessage; }
  void SetMessage(std::string message) { fMessage = std::move(message); }
  // The class name as the program reports it ("EWebException").
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return fMessage.c_str(); }

 private:
  std::string fMessage;
};

// Declares an exception class Name deriving from Base, reporting its own name.
#define NEMVO_EXCEPTION(Name, Base)                                            \
  class Name : public Base {                                                   \
   public:                                                                     \
    using Base::Base;                                                          \
    const char* ClassName() const noexcept override { return #Name; }          \
  }

NEMVO_EXCEPTION(EConvertError, Exception);
NEMVO_EXCEPTION(EResNotFound, Exception);
NEMVO_EXCEPTION(EParserError, Exception);
NEMVO_EXCEPTION(EStreamError, Exception);
NEMVO_EXCEPTION(EFOpenError, EStreamError);
NEMVO_EXCEPTION(EComponentError, Exception);
NEMVO_EXCEPTION(EListError, Exception);
NEMVO_EXCEPTION(EStringListError, Exception);

// An operating-system call failed; carries the platform's error code.
class EOSError : public Exception {
 public:
  EOSError(std::string message, int errorCode) : Exception(std::move(message)), fErrorCode(errorCode) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  int ErrorCode() const noexcept { return fErrorCode; }
  // "System Error.  Code: N.\r\n<text>", or "A call to an OS function failed" for code 0.
  static EOSError FromLastError(int errorCode);

 private:
  int fErrorCode;
};

}  // namespace nemvo
