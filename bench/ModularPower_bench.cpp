// One modular power of a login's size (1024-bit modulus, base and exponent),
// side by side: libtommath's own mp_exptmod (what the client library computes
// by itself), the program's TModularPower (libcrypto, with the conversions
// from and to libtommath's numbers and a context per call), and libcrypto's
// function alone on numbers of its own (the floor).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <openssl/bn.h>
#include <tommath.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ModularPower.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct TomMath {
  void* handle = dlopen("libtommath.so.1", RTLD_NOW | RTLD_LOCAL);
  template <typename F>
  F Find(const char* name) const {
    if (!handle) throw std::runtime_error("libtommath.so.1 cannot be loaded");
    return reinterpret_cast<F>(dlsym(handle, name));
  }
  decltype(&mp_init) init = Find<decltype(&mp_init)>("mp_init");
  decltype(&mp_clear) clear = Find<decltype(&mp_clear)>("mp_clear");
  decltype(&mp_from_ubin) fromBytes = Find<decltype(&mp_from_ubin)>("mp_from_ubin");
  decltype(&mp_exptmod) power = Find<decltype(&mp_exptmod)>("mp_exptmod");
};

const TomMath& Tom() {
  static const TomMath tom;
  return tom;
}

struct Operands {
  Bytes base, exponent, modulus;
  Operands() {
    std::mt19937_64 random(1024);
    for (Bytes* b : {&base, &exponent, &modulus}) {
      b->resize(128);
      for (unsigned char& byte : *b) byte = static_cast<unsigned char>(random());
    }
    modulus.front() |= 0x80;
    modulus.back() |= 1;
    base.front() &= 0x7F;
  }
};

// The operands as libtommath numbers.
struct TomOperands {
  mp_int g, x, p, y;
  TomOperands() {
    static const Operands o;
    for (mp_int* n : {&g, &x, &p, &y})
      if (Tom().init(n) != MP_OKAY) throw std::runtime_error("mp_init");
    if (Tom().fromBytes(&g, o.base.data(), o.base.size()) != MP_OKAY ||
        Tom().fromBytes(&x, o.exponent.data(), o.exponent.size()) != MP_OKAY ||
        Tom().fromBytes(&p, o.modulus.data(), o.modulus.size()) != MP_OKAY)
      throw std::runtime_error("mp_from_ubin");
  }
  ~TomOperands() {
    for (mp_int* n : {&g, &x, &p, &y}) Tom().clear(n);
  }
};

void LibtommathAlone(benchmark::State& state) {
  TomOperands n;
  for (auto _ : state) benchmark::DoNotOptimize(Tom().power(&n.g, &n.x, &n.p, &n.y));
}
BENCHMARK(LibtommathAlone)->Unit(benchmark::kMicrosecond);

void ProgramThroughLibcrypto(benchmark::State& state) {
  TomOperands n;
  nemvo::platform::TModularPower power;
  if (!power.Loaded()) state.SkipWithError(power.LoadError().c_str());
  // libcrypto computes only once its known-answer test has passed.
  if (const std::string failed = power.SelfTest(Tom().handle); !failed.empty()) state.SkipWithError(failed.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(power.Compute(Tom().handle, &n.g, &n.x, &n.p, &n.y));
  if (power.LibraryCount() != 0) state.SkipWithError("libcrypto did not compute");
}
BENCHMARK(ProgramThroughLibcrypto)->Unit(benchmark::kMicrosecond);

void LibcryptoAlone(benchmark::State& state) {
  const Operands o;
  BN_CTX* context = BN_CTX_new();
  BIGNUM* g = BN_bin2bn(o.base.data(), int(o.base.size()), nullptr);
  BIGNUM* x = BN_bin2bn(o.exponent.data(), int(o.exponent.size()), nullptr);
  BIGNUM* p = BN_bin2bn(o.modulus.data(), int(o.modulus.size()), nullptr);
  BIGNUM* y = BN_new();
  for (auto _ : state) benchmark::DoNotOptimize(BN_mod_exp_mont_consttime(y, g, x, p, context, nullptr));
  for (BIGNUM* b : {g, x, p, y}) BN_free(b);
  BN_CTX_free(context);
}
BENCHMARK(LibcryptoAlone)->Unit(benchmark::kMicrosecond);

}  // namespace
