#include "platform/ModularPower.h"

#include <dlfcn.h>
#include <link.h>
#include <errno.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <string.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Environment.h"
#include "platform/LogLine.h"
#include "platform/ModularPowerKnownAnswer.h"

// The program's own definition of the integer library's function, exported
// from the executable (src/main/CMakeLists.txt), where the client library's
// reference binds first. The caller is whoever made the call: the integer
// library's functions are looked up in its scope, so that the numbers are
// always read and written by the library that made them.
extern "C" __attribute__((visibility("default"), noinline)) int mp_exptmod(const void* G, const void* X, const void* P,
                                                                         void* Y) noexcept;

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

 private:
  std::vector<unsigned char> fBytes;  // never empty, so that Data() is never null
  size_t fSize;
};

template <typename F>
F As(void* address) {
  return reinterpret_cast<F>(address);
}

std::string ProgramName() { return program_invocation_short_name; }

// The loaded object whose memory holds `address`: its file name (null for
// the program itself, or for none) and the bounds of the segment that holds
// it. (dladdr would also search the object's symbols for the nearest one, at
// several times the cost.)
struct Holder {
  const char* name = nullptr;
  uintptr_t start = 0, end = 0;
};

Holder ObjectHolding(const void* address) noexcept {
  struct Search {
    uintptr_t address;
    Holder holder;
  } search{reinterpret_cast<uintptr_t>(address), {}};
  dl_iterate_phdr(
      [](dl_phdr_info* object, size_t, void* data) {
        auto& s = *static_cast<Search*>(data);
        for (ElfW(Half) i = 0; i < object->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = object->dlpi_phdr[i];
          const uintptr_t start = object->dlpi_addr + segment.p_vaddr;
          if (segment.p_type == PT_LOAD && s.address - start < segment.p_memsz) {
            s.holder = {object->dlpi_name && *object->dlpi_name ? object->dlpi_name : nullptr, start,
                        start + segment.p_memsz};
            return 1;
          }
        }
        return 0;
      },
      &search);
  return search.holder;
}

}  // namespace

struct TModularPower::IntegerFunctions {
  PowerFunction power = nullptr;
  int (*byteSize)(const void*) = nullptr;
  int (*toBytes)(const void*, unsigned char*) = nullptr;
  int (*fromBytes)(void*, const unsigned char*, int) = nullptr;
  // The second argument is an mp_digit (64 bits on this platform's builds;
  // only 0 and 1 are ever passed, which read the same at any width).
  int (*compareDigit)(const void*, uint64_t) = nullptr;

  explicit IntegerFunctions(LibraryHandle scope) noexcept : fScope(scope) {
    if (!scope) return;
    power = As<PowerFunction>(dlsym(scope, "mp_exptmod"));
    // Never ours: handing a call on to it would call it again.
    if (power == &mp_exptmod) power = nullptr;
  }
  // The rest, looked up only where libcrypto is to compute. Null when all
  // are there, else the first one missing.
  const char* FindConverters() noexcept {
    byteSize = As<decltype(byteSize)>(dlsym(fScope, "mp_unsigned_bin_size"));
    toBytes = As<decltype(toBytes)>(dlsym(fScope, "mp_to_unsigned_bin"));
    fromBytes = As<decltype(fromBytes)>(dlsym(fScope, "mp_read_unsigned_bin"));
    compareDigit = As<decltype(compareDigit)>(dlsym(fScope, "mp_cmp_d"));
    return !byteSize       ? "mp_unsigned_bin_size"
           : !toBytes      ? "mp_to_unsigned_bin"
           : !fromBytes    ? "mp_read_unsigned_bin"
           : !compareDigit ? "mp_cmp_d"
                           : nullptr;
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

// The objects loaded now, by file name (the program and the kernel's
// virtual object have none that dlopen takes).
std::vector<std::string> LoadedObjectNames() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* object, size_t, void* data) {
        if (object->dlpi_name && *object->dlpi_name)
          static_cast<std::vector<std::string>*>(data)->emplace_back(object->dlpi_name);
        return 0;
      },
      &names);
  return names;
}

// The next definition of mp_exptmod after the program's own.
TModularPower::PowerFunction NextModularPower() noexcept {
  if (auto next = As<TModularPower::PowerFunction>(dlsym(RTLD_NEXT, "mp_exptmod")); next && next != &mp_exptmod)
    return next;
  // Loaded privately (RTLD_LOCAL, as the client library loads its integer
  // library), a definition is in no global scope: each loaded object's own
  // scope is searched. The names are taken first: nothing is opened while
  // the loader's list is walked.
  try {
    for (const std::string& name : LoadedObjectNames()) {
      LibraryHandle object = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      if (!object) continue;
      auto power = As<TModularPower::PowerFunction>(dlsym(object, "mp_exptmod"));
      dlclose(object);
      if (power && power != &mp_exptmod) return power;
    }
  } catch (...) {
  }
  return nullptr;
}

}  // namespace

TModularPower::PowerFunction LibraryModularPower(LibraryHandle scope) noexcept {
  const TModularPower::IntegerFunctions integers(scope);
  return integers.power ? integers.power : NextModularPower();
}

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

namespace {

// A number of the integer library's, made and cleared by it. mp_int is a
// small struct (24 bytes in libtommath 1.x) that the program never looks
// into: room to spare, aligned as any struct of the library's.
class LibraryNumber {
 public:
  using Init = int (*)(void*);
  using Clear = void (*)(void*);
  LibraryNumber(Init init, Clear clear) : fClear(clear), fMade(init(fStorage) == MpOkay) {}
  ~LibraryNumber() {
    if (fMade) fClear(fStorage);
  }
  LibraryNumber(const LibraryNumber&) = delete;
  LibraryNumber& operator=(const LibraryNumber&) = delete;
  bool Made() const { return fMade; }
  void* Get() { return fStorage; }

 private:
  alignas(std::max_align_t) unsigned char fStorage[128] = {};
  Clear fClear;
  bool fMade;
};

}  // namespace

std::string TModularPower::SelfTest(LibraryHandle integerLibrary) {
  if (!fCrypto) return fLoadError;
  IntegerFunctions integers(integerLibrary);
  if (!integers.power) return "the client library has no integer library with mp_exptmod";
  if (const char* missing = integers.FindConverters())
    return std::string("the integer library does not export ") + missing;
  const auto init = As<LibraryNumber::Init>(dlsym(integerLibrary, "mp_init"));
  const auto clear = As<LibraryNumber::Clear>(dlsym(integerLibrary, "mp_clear"));
  if (!init || !clear) return std::string("the integer library does not export ") + (init ? "mp_clear" : "mp_init");

  namespace k = known_answer;
  LibraryNumber g(init, clear), x(init, clear), p(init, clear), y(init, clear);
  if (!g.Made() || !x.Made() || !p.Made() || !y.Made() ||
      integers.fromBytes(g.Get(), k::kBase, int(sizeof k::kBase)) != MpOkay ||
      integers.fromBytes(x.Get(), k::kExponent, int(sizeof k::kExponent)) != MpOkay ||
      integers.fromBytes(p.Get(), k::kModulus, int(sizeof k::kModulus)) != MpOkay)
    return "the integer library could not make the test's numbers";
  int result = MpOkay;
  if (!ComputeFast(integers, g.Get(), x.Get(), p.Get(), y.Get(), result) || result != MpOkay)
    return "libcrypto did not compute the test's power";
  std::optional<SecretBytes> power;
  if (!integers.Read(y.Get(), power) || power->Size() != sizeof k::kPower ||
      memcmp(power->Data(), k::kPower, sizeof k::kPower) != 0)
    return "libcrypto's result is not the known one";

  const Holder holder = ObjectHolding(reinterpret_cast<const void*>(integers.power));
  fTestedStart = holder.start;
  fTestedEnd = holder.end;
  fTestedPower.store(integers.power, std::memory_order_release);
  return "";
}

bool TModularPower::InTestedLibrary(const void* code) const noexcept {
  const uintptr_t at = reinterpret_cast<uintptr_t>(code);
  return Tested() && at - fTestedStart < fTestedEnd - fTestedStart;
}

int TModularPower::Compute(LibraryHandle integerLibrary, const void* G, const void* X, const void* P, void* Y,
                           Source* deliveredBy) noexcept {
  if (deliveredBy) *deliveredBy = Source::library;
  IntegerFunctions integers(integerLibrary);
  // libcrypto only for numbers of the library it was tested with.
  const PowerFunction tested = TestedPower();
  if (tested && integers.power == tested && integers.FindConverters() == nullptr) {
    try {
      int result = MpOkay;
      if (ComputeFast(integers, G, X, P, Y, result)) {
        fFastCount.fetch_add(1, std::memory_order_relaxed);
        if (deliveredBy) *deliveredBy = Source::libcrypto;
        return result;
      }
    } catch (...) {
      // Y is untouched: the library computes it.
    }
  }
  const PowerFunction power = integers.power ? integers.power : NextModularPower();
  fLibraryCount.fetch_add(1, std::memory_order_relaxed);
  return power ? power(G, X, P, Y) : MpVal;
}

bool TModularPower::ComputeFast(const IntegerFunctions& integers, const void* G, const void* X, const void* P,
                                void* Y, int& result) {
  // What libcrypto's function is not made for, and what libtommath defines
  // its own way (a negative exponent: a power of the inverse).
  if (integers.compareDigit(X, 0) != MpGreater || integers.compareDigit(G, 0) == MpLess ||
      integers.compareDigit(P, 1) != MpGreater)
    return false;
  std::optional<SecretBytes> base, exponent, modulus, power;
  if (!integers.Read(P, modulus) || (modulus->Data()[modulus->Size() - 1] & 1) == 0) return false;
  if (!integers.Read(G, base) || !integers.Read(X, exponent)) return false;
  if (!PowerByCrypto(*fCrypto, *base, *exponent, *modulus, power)) return false;
  // Y may be G, X or P: written only now that all three have been read.
  result = integers.fromBytes(Y, power->Data(), int(power->Size()));
  return true;
}

namespace {

// The process's: made once by UseLoginArithmetic when libcrypto passed its
// test, then kept for the process's life (a thread of the client library may
// call in at any time, during the end of the process too).
std::atomic<TModularPower*> processPower{nullptr};

bool ReportWanted() noexcept {
  static const bool wanted = [] {
    try {
      return !EnvironmentVariable(ReportModularPowersVariable).empty();
    } catch (...) {
      return false;
    }
  }();
  return wanted;
}

// Why libcrypto is not to be used: empty when it is, the library's own
// arithmetic otherwise.
std::string ChooseArithmetic(const LoginArithmeticRequest& request) {
  if (!request.switchedOffBy.empty()) return "switched off by " + request.switchedOffBy;
  auto power = std::make_unique<TModularPower>(request.cryptoLibrary);
  if (!power->Loaded()) return power->LoadError();
  // The handle stays: the client library is loaded for good by the first
  // login anyway, and the tested integer library's code must stay where it is.
  LibraryHandle client = LoadLibraryByName(request.clientLibrary);
  if (!client) return LastLibraryError();
  std::string failed = power->SelfTest(client);
  if (!failed.empty()) return failed;
  processPower.store(power.release(), std::memory_order_release);
  return "";
}

}  // namespace

bool UseLoginArithmetic(const LoginArithmeticRequest& request) {
  static std::once_flag once;
  static bool fast = false;
  std::call_once(once, [&] {
    const std::string why = ChooseArithmetic(request);
    fast = why.empty();
    LogLine(ProgramName(),
            fast ? "login arithmetic: libcrypto (known-answer test passed)" : "login arithmetic: library (" + why + ")",
            fast || !request.switchedOffBy.empty() ? LogPriority::kInfo : LogPriority::kWarning);
  });
  return fast;
}

}  // namespace nemvo::platform

extern "C" int mp_exptmod(const void* G, const void* X, const void* P, void* Y) noexcept {
  using namespace nemvo::platform;
  const void* returnAddress = __builtin_return_address(0);
  TModularPower* power = processPower.load(std::memory_order_acquire);
  TModularPower::Source source = TModularPower::Source::library;
  int result;
  if (power && power->InTestedLibrary(returnAddress)) {
    // The integer library's own use of its function (prime tests and the
    // like), which its symbol table sends here too: straight back.
    result = power->TestedPower()(G, X, P, Y);
  } else {
    // The caller's object, and through it the library it was linked with (a
    // handle's scope is the object and what it depends on, not the program).
    const Holder caller = ObjectHolding(returnAddress);
    LibraryHandle scope = caller.name ? dlopen(caller.name, RTLD_LAZY | RTLD_NOLOAD) : nullptr;
    if (power) {
      result = power->Compute(scope, G, X, P, Y, &source);
    } else {
      const TModularPower::PowerFunction library = LibraryModularPower(scope);
      result = library ? library(G, X, P, Y) : MpVal;
    }
    if (scope) dlclose(scope);
  }
  if (ReportWanted()) {
    try {
      LogLine(ProgramName(),
              source == TModularPower::Source::libcrypto ? "mp_exptmod: libcrypto" : "mp_exptmod: library");
    } catch (...) {
    }
  }
  return result;
}
