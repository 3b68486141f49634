#pragma once
// The client library's logins raise numbers of about 1024 bits to powers of
// about as many bits modulo a prime: it does that with libtommath's
// mp_exptmod, about 1.6 ms of CPU a login. The program defines an
// mp_exptmod of its own and exports it; the client library, loaded later,
// binds its calls to the program's first. In a FastCGI worker, which pays for
// many logins, the program's computes with OpenSSL's libcrypto (loaded at run
// time; about 2.5 times as fast, and in constant time, which libtommath's is
// not); everywhere else it hands every call on to the library's own.
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

  // Y = G^X mod P, with the integer library that `integerLibrary`'s scope
  // provides (a handle from dlopen: the library itself, or one that depends
  // on it); Y may be any of G, X and P. Returns what mp_exptmod returns (0,
  // MP_OKAY, on success). The first power computed by libcrypto is checked
  // against the integer library's own: if they differ, libcrypto is not used
  // again by this object, and that is said once on standard error.
  // `deliveredBy`, when given, is set to the one whose result Y holds.
  enum class Source { libcrypto, library };
  int Compute(LibraryHandle integerLibrary, const void* G, const void* X, const void* P, void* Y,
              Source* deliveredBy = nullptr);

  // How many results each one delivered, and whether libcrypto was dropped
  // after a wrong result.
  uint64_t FastCount() const { return fFastCount.load(std::memory_order_relaxed); }
  uint64_t LibraryCount() const { return fLibraryCount.load(std::memory_order_relaxed); }
  bool Dropped() const { return fState.load(std::memory_order_acquire) == State::dropped; }

  // The functions of each library that are used (ModularPower.cpp).
  struct CryptoFunctions;
  struct IntegerFunctions;

 private:
  enum class State { unchecked, checked, dropped };
  // False when it has not touched Y (nor G, X, P): the library's own is then
  // to compute. Otherwise Y holds the result, `result` is the call's, and
  // `source` says whose it is.
  bool ComputeFast(const IntegerFunctions& integers, const void* G, const void* X, const void* P, void* Y,
                   int& result, Source& source);

  LibraryHandle fLibrary = nullptr;
  const CryptoFunctions* fCrypto = nullptr;
  std::string fLoadError;
  std::atomic<State> fState{State::unchecked};
  std::atomic<uint64_t> fFastCount{0};
  std::atomic<uint64_t> fLibraryCount{0};
};

// Switches this process's mp_exptmod to libcrypto (the first call loads it;
// later calls do nothing). False, with the reason logged on standard error,
// when libcrypto cannot be used: the library's own function then goes on
// doing the work.
bool UseFastModularPower();

// With NEMVO_REPORT_MODULAR_POWERS set (to anything but empty), every call of
// the process's mp_exptmod says on standard error which code delivered its
// result: "mp_exptmod: libcrypto" or "mp_exptmod: library". For tests and
// diagnosis: whether the client library's logins reach the program's function.
inline constexpr const char* ReportModularPowersVariable = "NEMVO_REPORT_MODULAR_POWERS";

}  // namespace nemvo::platform
