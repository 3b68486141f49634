// A libcrypto that is wrong in one thing: its constant-time modular power is
// one too high. Everything else the program looks up is the real library's,
// reached through a handle of its own on the real file (NEMVO_REAL_CRYPTO),
// so that this one also serves under the real one's name in a directory of
// LD_LIBRARY_PATH (a dependency on that name would find this file itself).
#include <dlfcn.h>
#include <openssl/bn.h>
#include <openssl/err.h>

namespace {

// The type only: a reference to a function this file does not define would
// make this file need the real library by its name.
template <typename F>
F Real(const char* name) {
  static void* const library = dlopen(NEMVO_REAL_CRYPTO, RTLD_NOW | RTLD_LOCAL);
  return library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
}

// Each forward looks its target up once; a missing one makes the call fail
// as the real one fails.
#define NEMVO_REAL(name) static const auto real = Real<decltype(&name)>(#name)

}  // namespace

extern "C" {

BN_CTX* BN_CTX_new() {
  NEMVO_REAL(BN_CTX_new);
  return real ? real() : nullptr;
}
void BN_CTX_free(BN_CTX* c) {
  NEMVO_REAL(BN_CTX_free);
  if (real) real(c);
}
BIGNUM* BN_new() {
  NEMVO_REAL(BN_new);
  return real ? real() : nullptr;
}
void BN_clear_free(BIGNUM* a) {
  NEMVO_REAL(BN_clear_free);
  if (real) real(a);
}
BIGNUM* BN_bin2bn(const unsigned char* s, int len, BIGNUM* ret) {
  NEMVO_REAL(BN_bin2bn);
  return real ? real(s, len, ret) : nullptr;
}
int BN_bn2bin(const BIGNUM* a, unsigned char* to) {
  NEMVO_REAL(BN_bn2bin);
  return real ? real(a, to) : -1;
}
int BN_num_bits(const BIGNUM* a) {
  NEMVO_REAL(BN_num_bits);
  return real ? real(a) : 0;
}
void ERR_clear_error() {
  NEMVO_REAL(ERR_clear_error);
  if (real) real();
}

int BN_mod_exp_mont_consttime(BIGNUM* rr, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx,
                              BN_MONT_CTX* in_mont) {
  NEMVO_REAL(BN_mod_exp_mont_consttime);
  static const auto addWord = Real<decltype(&BN_add_word)>("BN_add_word");
  if (!real || !addWord || real(rr, a, p, m, ctx, in_mont) != 1) return 0;
  return addWord(rr, 1);
}

}  // extern "C"
