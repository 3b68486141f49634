#pragma once
// The client library's logins raise numbers of about 1024 bits to powers of
// about as many bits modulo a prime: it does that with libtommath's
// mp_exptmod, about 1.6 ms of CPU a login. The program defines an
// mp_exptmod of its own and exports it; the client library, loaded later,
// binds its calls to the program's first. In a FastCGI worker, which pays for
// many logins, the program's computes with OpenSSL's libcrypto (loaded at run
// time; about 2.5 times as fast, and in constant time, which libtommath's is
// not), once a known-answer test at the worker's start has passed;
// everywhere else (a CGI process, switched off, a failed test, a caller
// whose library is not the one tested) it hands every call on to the
// library's own, and so it does at once with libtommath's calls of its own
// function (its prime tests reach it through its own symbol table too).
//
// The numbers (libtommath's mp_int) stay opaque: they are read and written
// only through the functions of the library that the caller itself uses
// (mp_unsigned_bin_size, mp_to_unsigned_bin, mp_read_unsigned_bin, mp_cmp_d).
// Whatever is unusual (an exponent that is not positive, a modulus that is
// not odd and above 1, a negative base) or fails goes to the library's own.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/LibraryLoading.h"

namespace nemvo::platform {

inline constexpr const char* DefaultCryptoLibrary = "libcrypto.so.3";

class TModularPower {
 public:
  // Loads `cryptoLibrary`. If it cannot be loaded, or lacks a function, every
  // power goes to the integer library's own function (LoadError() says why).
  explicit TModularPower(const std::string& cryptoLibrary = DefaultCryptoLibrary);
  ~TModularPower();
  TModularPower(const TModularPower&) = delete;
  TModularPower& operator=(const TModularPower&) = delete;

  bool Loaded() const { return fCrypto != nullptr; }
  const std::string& LoadError() const { return fLoadError; }

  // The known-answer test: a fixed power of a login's size
  // (platform/ModularPowerKnownAnswer.h) computed as Compute would, with
  // numbers of the integer library that `integerLibrary`'s scope provides
  // (a handle from dlopen: the library itself, or one that depends on it),
  // and compared with its known result. Empty when it passed: from then on
  // Compute lets libcrypto compute for callers whose integer library is that
  // one. Otherwise why not ("the integer library does not export
  // mp_to_unsigned_bin", "libcrypto's result is not the known one", ...),
  // and libcrypto is never used by this object. Until it has passed, every
  // call goes to the library.
  std::string SelfTest(LibraryHandle integerLibrary);
  bool Tested() const { return fTestedPower.load(std::memory_order_acquire) != nullptr; }

  // Y = G^X mod P, with the integer library that `integerLibrary`'s scope
  // provides; Y may be any of G, X and P. Returns what mp_exptmod returns (0,
  // MP_OKAY, on success). A scope without that library (none, the program's,
  // another library's) gets the next definition of mp_exptmod among the
  // loaded objects; MP_VAL only when there is none at all. Nothing escapes:
  // whatever goes wrong on the way to libcrypto leaves the call to the
  // library. `deliveredBy`, when given, is set to the one whose result Y holds.
  enum class Source { libcrypto, library };
  int Compute(LibraryHandle integerLibrary, const void* G, const void* X, const void* P, void* Y,
              Source* deliveredBy = nullptr) noexcept;

  // Whether `code` lies in the integer library that passed the test: its own
  // calls of mp_exptmod, which go straight back to it (TestedPower()).
  bool InTestedLibrary(const void* code) const noexcept;
  using PowerFunction = int (*)(const void*, const void*, const void*, void*);
  PowerFunction TestedPower() const noexcept { return fTestedPower.load(std::memory_order_acquire); }

  // How many results each one delivered.
  uint64_t FastCount() const { return fFastCount.load(std::memory_order_relaxed); }
  uint64_t LibraryCount() const { return fLibraryCount.load(std::memory_order_relaxed); }

  // The functions of each library that are used (ModularPower.cpp).
  struct CryptoFunctions;
  struct IntegerFunctions;

 private:
  // False when it has not touched Y (nor G, X, P): the library's own is then
  // to compute. Otherwise Y holds libcrypto's result and `result` is the
  // call's. May throw (allocations) before it writes Y, never after.
  bool ComputeFast(const IntegerFunctions& integers, const void* G, const void* X, const void* P, void* Y,
                   int& result);

  LibraryHandle fLibrary = nullptr;
  const CryptoFunctions* fCrypto = nullptr;
  std::string fLoadError;
  std::atomic<PowerFunction> fTestedPower{nullptr};
  // The tested library's code, [start, end).
  uintptr_t fTestedStart = 0, fTestedEnd = 0;
  std::atomic<uint64_t> fFastCount{0};
  std::atomic<uint64_t> fLibraryCount{0};
};

// The mp_exptmod a call reaches without the program's: the one in `scope`'s
// (never the program's own), else the next definition among the loaded
// objects (dlsym's RTLD_NEXT, then each loaded library's own scope, since the
// client library loads its integer library privately). Null when none.
TModularPower::PowerFunction LibraryModularPower(LibraryHandle scope) noexcept;

// What decides a process's login arithmetic.
struct LoginArithmeticRequest {
  // Empty: libcrypto is wanted. Otherwise what turned it off, as the log line
  // names it ("--login-arithmetic library", "LoginArithmetic=library in PATH").
  std::string switchedOffBy;
  // The client library whose integer library the known-answer test uses; it
  // is loaded now (with the flags the program's binding uses, so that the
  // binding shares it) if it is not yet.
  std::string clientLibrary;
  std::string cryptoLibrary = DefaultCryptoLibrary;
};

// Decides this process's mp_exptmod once (later calls return the first
// decision): libcrypto, when wanted, loadable and its known-answer test
// passes; otherwise the library's own for every call. Writes one line on
// standard error saying which and why: "login arithmetic: libcrypto
// (known-answer test passed)", "login arithmetic: library (switched off by
// --login-arithmetic library)", "login arithmetic: library (libcrypto.so.3:
// cannot load: ...)", "login arithmetic: library (the integer library does
// not export mp_to_unsigned_bin)". True when libcrypto is used.
bool UseLoginArithmetic(const LoginArithmeticRequest& request);

// With NEMVO_REPORT_MODULAR_POWERS set (to anything but empty), every call of
// the process's mp_exptmod says on standard error which code delivered its
// result: "mp_exptmod: libcrypto" or "mp_exptmod: library". For tests and
// diagnosis: whether the client library's logins reach the program's function.
inline constexpr const char* ReportModularPowersVariable = "NEMVO_REPORT_MODULAR_POWERS";

}  // namespace nemvo::platform
