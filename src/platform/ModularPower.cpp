#include "platform/ModularPower.h"

#include <dlfcn.h>
#include <link.h>
#include <errno.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Environment.h"
#include "platform/WorkerPool.h"

// The program's own definition of the integer library's function, exported
// from the executable (src/main/CMakeLists.txt), where the client library's
// reference binds first. The caller is whoever made the call: the integer
// library's functions are looked up in its scope, so that the numbers are
// always read and written by the library that made them.
extern "C" __attribute__((visibility("default"), noinline)) int mp_exptmod(const void* G, const void* X, const void* P,
                                                                         void* Y);

namespace nemvo::platform {

namespace {

// libtommath's codes: results, and comparisons (mp_cmp_d).
constexpr int MpOkay = 0;
constexpr int MpVal = -3;
constexpr int MpLess = -1;
constexpr int MpGreater = 1;

// No login's number comes near this (a few hundred bytes): anything larger
// is left to the library, whatever it is.
constexpr int MaxBytes = 8192;

// Bytes that may be a secret (a login's private exponent, the shared value it
// leads to): wiped when they go.
class SecretBytes {
 public:
  explicit SecretBytes(size_t size) : fBytes(size == 0 ? 1 : size), fSize(size) {}
  ~SecretBytes() { explicit_bzero(fBytes.data(), fBytes.size()); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  unsigned char* Data() { return fBytes.data(); }
  const unsigned char* Data() const { return fBytes.data(); }
  size_t Size() const { return fSize; }
  bool operator==(const SecretBytes& other) const {
    return fSize == other.fSize && memcmp(Data(), other.Data(), fSize) == 0;
  }

 private:
  std::vector<unsigned char> fBytes;  // never empty, so that Data() is never null
  size_t fSize;
};

template <typename F>
F As(void* address) {
  return reinterpret_cast<F>(address);
}

std::string ProgramName() { return program_invocation_short_name; }

}  // namespace

struct TModularPower::IntegerFunctions {
  int (*power)(const void*, const void*, const void*, void*) = nullptr;
  int (*byteSize)(const void*) = nullptr;
  int (*toBytes)(const void*, unsigned char*) = nullptr;
  int (*fromBytes)(void*, const unsigned char*, int) = nullptr;
  // The second argument is an mp_digit (64 bits on this platform's builds;
  // only 0 and 1 are ever passed, which read the same at any width).
  int (*compareDigit)(const void*, uint64_t) = nullptr;

  explicit IntegerFunctions(LibraryHandle scope) : fScope(scope) {
    if (!scope) return;
    power = As<decltype(power)>(dlsym(scope, "mp_exptmod"));
    // Never ours: handing a call on to it would call it again.
    if (power == &mp_exptmod) power = nullptr;
  }
  // The rest, looked up only where libcrypto is to compute. Whether all are there.
  bool FindConverters() {
    byteSize = As<decltype(byteSize)>(dlsym(fScope, "mp_unsigned_bin_size"));
    toBytes = As<decltype(toBytes)>(dlsym(fScope, "mp_to_unsigned_bin"));
    fromBytes = As<decltype(fromBytes)>(dlsym(fScope, "mp_read_unsigned_bin"));
    compareDigit = As<decltype(compareDigit)>(dlsym(fScope, "mp_cmp_d"));
    return byteSize && toBytes && fromBytes && compareDigit;
  }

  // The magnitude of `n`, big-endian, without leading zero bytes (none at
  // all for zero); false if it cannot be read.
  bool Read(const void* n, std::optional<SecretBytes>& bytes) const {
    const int size = byteSize(n);
    if (size < 0 || size > MaxBytes) return false;
    bytes.emplace(size_t(size));
    return toBytes(n, bytes->Data()) == MpOkay;
  }

 private:
  LibraryHandle fScope;
};

struct TModularPower::CryptoFunctions {
  decltype(&BN_CTX_new) contextNew = nullptr;
  decltype(&BN_CTX_free) contextFree = nullptr;
  decltype(&BN_new) numberNew = nullptr;
  decltype(&BN_clear_free) numberFree = nullptr;
  decltype(&BN_bin2bn) fromBytes = nullptr;
  decltype(&BN_bn2bin) toBytes = nullptr;
  decltype(&BN_num_bits) bits = nullptr;
  decltype(&BN_mod_exp_mont_consttime) power = nullptr;
  decltype(&ERR_clear_error) clearErrors = nullptr;
};

namespace {

// A BIGNUM of one computation, wiped when it goes.
class Number {
 public:
  Number(const TModularPower::CryptoFunctions& crypto, BIGNUM* number) : fCrypto(crypto), fNumber(number) {}
  ~Number() {
    if (fNumber) fCrypto.numberFree(fNumber);
  }
  Number(const Number&) = delete;
  Number& operator=(const Number&) = delete;
  BIGNUM* Get() const { return fNumber; }

 private:
  const TModularPower::CryptoFunctions& fCrypto;
  BIGNUM* fNumber;
};

// result = base^exponent mod modulus (modulus odd); false on any failure.
bool PowerByCrypto(const TModularPower::CryptoFunctions& c, const SecretBytes& base, const SecretBytes& exponent,
                   const SecretBytes& modulus, std::optional<SecretBytes>& result) {
  BN_CTX* context = c.contextNew();
  bool done = false;
  if (context) {
    Number b(c, c.fromBytes(base.Data(), int(base.Size()), nullptr));
    Number e(c, c.fromBytes(exponent.Data(), int(exponent.Size()), nullptr));
    Number m(c, c.fromBytes(modulus.Data(), int(modulus.Size()), nullptr));
    Number r(c, c.numberNew());
    if (b.Get() && e.Get() && m.Get() && r.Get() &&
        c.power(r.Get(), b.Get(), e.Get(), m.Get(), context, nullptr) == 1) {
      result.emplace(size_t((c.bits(r.Get()) + 7) / 8));
      done = c.toBytes(r.Get(), result->Data()) == int(result->Size());
    }
    c.contextFree(context);
  }
  // Nothing of a failure stays in the thread's error queue for others to find.
  if (!done) c.clearErrors();
  return done;
}

}  // namespace

TModularPower::TModularPower(const std::string& cryptoLibrary) {
  LibraryHandle library = LoadLibraryByName(cryptoLibrary);
  if (!library) {
    fLoadError = LastLibraryError();
    return;
  }
  auto crypto = std::make_unique<CryptoFunctions>();
  bool complete = true;
  auto find = [&]<typename F>(F& function, const char* name) {
    function = As<F>(FindEntryPoint(library, name));
    if (!function && complete) {
      complete = false;
      fLoadError = cryptoLibrary + ": " + name + " is missing";
    }
  };
  find(crypto->contextNew, "BN_CTX_new");
  find(crypto->contextFree, "BN_CTX_free");
  find(crypto->numberNew, "BN_new");
  find(crypto->numberFree, "BN_clear_free");
  find(crypto->fromBytes, "BN_bin2bn");
  find(crypto->toBytes, "BN_bn2bin");
  find(crypto->bits, "BN_num_bits");
  find(crypto->power, "BN_mod_exp_mont_consttime");
  find(crypto->clearErrors, "ERR_clear_error");
  if (!complete) {
    FreeLibrary(library);
    return;
  }
  fLibrary = library;
  fCrypto = crypto.release();
}

TModularPower::~TModularPower() {
  delete fCrypto;
  FreeLibrary(fLibrary);
}

int TModularPower::Compute(LibraryHandle integerLibrary, const void* G, const void* X, const void* P, void* Y,
                           Source* deliveredBy) {
  IntegerFunctions integers(integerLibrary);
  // Without the library's own function there is nothing to compare with or
  // hand on to: the call fails as the library fails bad input.
  if (!integers.power) {
    if (deliveredBy) *deliveredBy = Source::library;
    return MpVal;
  }
  int result = MpOkay;
  Source source = Source::library;
  if (!fCrypto || Dropped() || !integers.FindConverters() || !ComputeFast(integers, G, X, P, Y, result, source)) {
    result = integers.power(G, X, P, Y);
    source = Source::library;
  }
  (source == Source::libcrypto ? fFastCount : fLibraryCount).fetch_add(1, std::memory_order_relaxed);
  if (deliveredBy) *deliveredBy = source;
  return result;
}

bool TModularPower::ComputeFast(const IntegerFunctions& integers, const void* G, const void* X, const void* P,
                                void* Y, int& result, Source& source) {
  // What libcrypto's function is not made for, and what libtommath defines
  // its own way (a negative exponent: a power of the inverse).
  if (integers.compareDigit(X, 0) != MpGreater || integers.compareDigit(G, 0) == MpLess ||
      integers.compareDigit(P, 1) != MpGreater)
    return false;
  std::optional<SecretBytes> base, exponent, modulus, power;
  if (!integers.Read(P, modulus) || (modulus->Data()[modulus->Size() - 1] & 1) == 0) return false;
  if (!integers.Read(G, base) || !integers.Read(X, exponent)) return false;
  if (!PowerByCrypto(*fCrypto, *base, *exponent, *modulus, power)) return false;

  if (fState.load(std::memory_order_acquire) == State::checked) {
    // Y may be G, X or P: written only now that all three have been read.
    result = integers.fromBytes(Y, power->Data(), int(power->Size()));
    source = Source::libcrypto;
    return true;
  }

  // The first: the library computes too (G, X and P are untouched so far),
  // into Y, and the two must agree. Y then holds the library's result either way.
  source = Source::library;
  result = integers.power(G, X, P, Y);
  std::optional<SecretBytes> expected;
  if (result != MpOkay || integers.compareDigit(Y, 0) == MpLess || !integers.Read(Y, expected)) return true;
  if (*expected == *power) {
    State unchecked = State::unchecked;
    fState.compare_exchange_strong(unchecked, State::checked, std::memory_order_acq_rel);
    source = Source::libcrypto;
  } else if (fState.exchange(State::dropped, std::memory_order_acq_rel) != State::dropped) {
    LogLine(ProgramName(),
            "mp_exptmod: libcrypto's result differs from the library's own: the library's is used from now on");
  }
  return true;
}

namespace {

// The process's: made once by UseFastModularPower, then kept for the
// process's life (a thread of the client library may call in at any time,
// during the end of the process too).
std::atomic<TModularPower*> processPower{nullptr};

// The file name of the loaded library whose memory holds `address`; null for
// the program itself or for none. (dladdr would also search the library's
// symbols for the nearest one, at several times the cost.)
const char* ObjectHolding(const void* address) {
  struct Search {
    uintptr_t address;
    const char* name = nullptr;
  } search{reinterpret_cast<uintptr_t>(address)};
  dl_iterate_phdr(
      [](dl_phdr_info* object, size_t, void* data) {
        auto& s = *static_cast<Search*>(data);
        for (ElfW(Half) i = 0; i < object->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = object->dlpi_phdr[i];
          if (segment.p_type == PT_LOAD && s.address - (object->dlpi_addr + segment.p_vaddr) < segment.p_memsz) {
            s.name = object->dlpi_name;
            return 1;
          }
        }
        return 0;
      },
      &search);
  return search.name && *search.name ? search.name : nullptr;
}

bool ReportWanted() {
  static const bool wanted = !EnvironmentVariable(ReportModularPowersVariable).empty();
  return wanted;
}

}  // namespace

bool UseFastModularPower() {
  static std::once_flag once;
  static bool usable = false;
  std::call_once(once, [] {
    auto power = std::make_unique<TModularPower>();
    if (!power->Loaded()) {
      LogLine(ProgramName(), power->LoadError() + ": logins use the client library's own arithmetic");
      return;
    }
    processPower.store(power.release(), std::memory_order_release);
    usable = true;
  });
  return usable;
}

}  // namespace nemvo::platform

extern "C" int mp_exptmod(const void* G, const void* X, const void* P, void* Y) {
  using namespace nemvo::platform;
  // The caller's object, and through it the library it was linked with (a
  // handle's scope is the object and what it depends on, not the program).
  const char* caller = ObjectHolding(__builtin_return_address(0));
  LibraryHandle scope = caller ? dlopen(caller, RTLD_LAZY | RTLD_NOLOAD) : nullptr;

  TModularPower::Source source = TModularPower::Source::library;
  int result;
  if (TModularPower* power = processPower.load(std::memory_order_acquire)) {
    result = power->Compute(scope, G, X, P, Y, &source);
  } else {
    const TModularPower::IntegerFunctions integers(scope);
    result = integers.power ? integers.power(G, X, P, Y) : MpVal;
  }
  if (scope) dlclose(scope);
  if (ReportWanted())
    LogLine(ProgramName(),
            source == TModularPower::Source::libcrypto ? "mp_exptmod: libcrypto" : "mp_exptmod: library");
  return result;
}
