// Modular powers against libtommath's own mp_exptmod, the function the
// client library would otherwise call: the same result and the same return
// code for every case, each one with the result written over nothing, over
// the base, over the exponent and over the modulus; and which of the two
// delivered it (libcrypto for what it is made for once its known-answer test
// has passed, the library for the rest and for everything otherwise).
#include "platform/ModularPower.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <tommath.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/OutputCapture.h"

namespace nemvo::platform {
namespace {

using Bytes = std::vector<unsigned char>;
using Source = TModularPower::Source;

// libtommath loaded as the client library has it loaded: its own scope.
struct TomMath {
  void* handle = dlopen("libtommath.so.1", RTLD_NOW | RTLD_LOCAL);
  template <typename F>
  F Find(const char* name) const {
    return reinterpret_cast<F>(handle ? dlsym(handle, name) : nullptr);
  }
  decltype(&mp_init) init = Find<decltype(&mp_init)>("mp_init");
  decltype(&mp_clear) clear = Find<decltype(&mp_clear)>("mp_clear");
  decltype(&mp_copy) copy = Find<decltype(&mp_copy)>("mp_copy");
  decltype(&mp_neg) neg = Find<decltype(&mp_neg)>("mp_neg");
  decltype(&mp_cmp_d) compareDigit = Find<decltype(&mp_cmp_d)>("mp_cmp_d");
  decltype(&mp_from_ubin) fromBytes = Find<decltype(&mp_from_ubin)>("mp_from_ubin");
  decltype(&mp_to_ubin) toBytes = Find<decltype(&mp_to_ubin)>("mp_to_ubin");
  decltype(&mp_ubin_size) byteSize = Find<decltype(&mp_ubin_size)>("mp_ubin_size");
  decltype(&mp_exptmod) power = Find<decltype(&mp_exptmod)>("mp_exptmod");
};

const TomMath& Tom() {
  static const TomMath tom;
  return tom;
}

// A libtommath number of the test: a magnitude's bytes (big-endian) and a sign.
class Int {
 public:
  explicit Int(const Bytes& magnitude = {}, bool negative = false) {
    EXPECT_EQ(Tom().init(&fValue), MP_OKAY);
    EXPECT_EQ(Tom().fromBytes(&fValue, magnitude.data(), magnitude.size()), MP_OKAY);
    if (negative) {
      EXPECT_EQ(Tom().neg(&fValue, &fValue), MP_OKAY);
    }
  }
  Int(const Int& other) {
    EXPECT_EQ(Tom().init(&fValue), MP_OKAY);
    EXPECT_EQ(Tom().copy(&other.fValue, &fValue), MP_OKAY);
  }
  Int& operator=(const Int&) = delete;
  ~Int() { Tom().clear(&fValue); }
  mp_int* Get() { return &fValue; }

  // "-" for a negative number, then the magnitude in hexadecimal ("" for zero).
  std::string Text() const {
    Bytes bytes(Tom().byteSize(&fValue) + 1);
    size_t written = 0;
    EXPECT_EQ(Tom().toBytes(&fValue, bytes.data(), bytes.size(), &written), MP_OKAY);
    std::string text = Tom().compareDigit(&fValue, 0) == MP_LT ? "-" : "";
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < written; ++i) (text += digits[bytes[i] >> 4]) += digits[bytes[i] & 15];
    return text;
  }

 private:
  mp_int fValue;
};

struct Operands {
  std::string name;
  Bytes base, exponent, modulus;
  bool negativeBase = false, negativeExponent = false, negativeModulus = false;
};

enum class Alias { none, base, exponent, modulus };
constexpr Alias kAliases[] = {Alias::none, Alias::base, Alias::exponent, Alias::modulus};
const char* AliasName(Alias alias) {
  static const char* names[] = {"into a number of its own", "into the base", "into the exponent", "into the modulus"};
  return names[int(alias)];
}

struct Outcome {
  int result;
  std::string value;  // when the result is MP_OKAY
};

// libtommath's own answer, on copies of its own.
Outcome Expected(const Operands& o) {
  Int g(o.base, o.negativeBase), x(o.exponent, o.negativeExponent), p(o.modulus, o.negativeModulus), y;
  const int result = Tom().power(g.Get(), x.Get(), p.Get(), y.Get());
  return {result, result == MP_OKAY ? y.Text() : ""};
}

Outcome Computed(TModularPower& power, const Operands& o, Alias alias, Source& source) {
  Int g(o.base, o.negativeBase), x(o.exponent, o.negativeExponent), p(o.modulus, o.negativeModulus), y;
  mp_int* target = alias == Alias::base       ? g.Get()
                   : alias == Alias::exponent ? x.Get()
                   : alias == Alias::modulus  ? p.Get()
                                              : y.Get();
  const int result = power.Compute(Tom().handle, g.Get(), x.Get(), p.Get(), target, &source);
  Int copy(alias == Alias::base ? g : alias == Alias::exponent ? x : alias == Alias::modulus ? p : y);
  return {result, result == MP_OKAY ? copy.Text() : ""};
}

// Every case, written four ways, against libtommath's answer.
void ExpectSameAsLibrary(TModularPower& power, const std::vector<Operands>& cases, Source expectedSource) {
  for (const Operands& o : cases) {
    const Outcome expected = Expected(o);
    for (Alias alias : kAliases) {
      Source source = expectedSource == Source::library ? Source::libcrypto : Source::library;
      const Outcome computed = Computed(power, o, alias, source);
      EXPECT_EQ(computed.result, expected.result) << o.name << ", " << AliasName(alias);
      EXPECT_EQ(computed.value, expected.value) << o.name << ", " << AliasName(alias);
      EXPECT_EQ(source, expectedSource) << o.name << ", " << AliasName(alias);
    }
  }
}

Bytes Random(size_t size, std::mt19937_64& random) {
  Bytes bytes(size);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

// An odd modulus of exactly `bits` bits (a multiple of 8).
Bytes RandomModulus(size_t bits, std::mt19937_64& random) {
  Bytes bytes = Random(bits / 8, random);
  bytes.front() |= 0x80;
  bytes.back() |= 1;
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Ones that libcrypto computes: a positive exponent, an odd modulus above 1,
// a base that is not negative.
std::vector<Operands> UsualCases() {
  std::mt19937_64 random(1024);
  const Bytes p = RandomModulus(1024, random);
  const Bytes pMinusOne = [&] {
    Bytes b = p;
    b.back() &= 0xFE;
    return b;
  }();
  Bytes lowTop = RandomModulus(1024, random);
  lowTop.front() = 0x01;
  return {
      {"zero base", {}, Random(128, random), p},
      {"base one", {1}, Random(128, random), p},
      {"base equal to the modulus", p, Random(128, random), p},
      {"base above the modulus", Concat({1}, p), Random(128, random), p},
      {"base twice the modulus's length", Random(256, random), Random(128, random), p},
      {"base modulus-1, even exponent (result 1)", pMinusOne, {2}, p},
      {"base modulus-1, odd exponent", pMinusOne, {3}, p},
      {"exponent one", Random(100, random), {1}, p},
      {"exponent longer than the modulus", Random(128, random), Random(256, random), p},
      {"result of two bytes under a 1024-bit modulus", {2}, {8}, p},
      {"modulus three", {5}, {7}, {3}},
      {"modulus three, base a multiple of it", {6}, {5}, {3}},
      {"one byte each", {7}, {9}, {11}},
      {"modulus with a top byte of 1", Random(129, random), Random(128, random), lowTop},
      {"1024 bits", Random(128, random), Random(128, random), p},
      {"2048 bits", Random(256, random), Random(256, random), RandomModulus(2048, random)},
  };
}

// A TModularPower whose known-answer test ran with the test's libtommath.
struct TestedModularPower : TModularPower {
  explicit TestedModularPower(const std::string& crypto = DefaultCryptoLibrary) : TModularPower(crypto) {
    EXPECT_TRUE(Loaded()) << LoadError();
    EXPECT_EQ(SelfTest(Tom().handle), "");
  }
};

TEST(ModularPower, UsualCasesAreLibcryptosAndTheLibrarysResult) {
  ASSERT_NE(Tom().power, nullptr) << "libtommath.so.1: " << dlerror();
  TestedModularPower power;
  ASSERT_TRUE(power.Tested());
  ExpectSameAsLibrary(power, UsualCases(), Source::libcrypto);
  EXPECT_EQ(power.LibraryCount(), 0u);
}

TEST(ModularPower, RandomCasesAreLibcryptosAndTheLibrarysResult) {
  ASSERT_NE(Tom().power, nullptr);
  TestedModularPower power;
  ASSERT_TRUE(power.Tested());
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 300; ++i) {
    Operands o;
    o.name = "random case " + std::to_string(i);
    const size_t modulusSize = 1 + random() % 300;
    o.modulus = Random(modulusSize, random);
    o.modulus.back() |= 1;
    if (modulusSize == 1 && o.modulus[0] == 1) o.modulus[0] = 3;
    o.base = Random(random() % (modulusSize + 9), random);
    o.exponent = Random(1 + random() % 260, random);
    if (std::all_of(o.exponent.begin(), o.exponent.end(), [](unsigned char b) { return b == 0; })) o.exponent = {1};
    const Alias alias = kAliases[random() % 4];
    const Outcome expected = Expected(o);
    Source source = Source::library;
    const Outcome computed = Computed(power, o, alias, source);
    EXPECT_EQ(computed.result, expected.result) << o.name;
    EXPECT_EQ(computed.value, expected.value) << o.name << ", " << AliasName(alias);
    EXPECT_EQ(source, Source::libcrypto) << o.name;
  }
  EXPECT_EQ(power.FastCount(), 300u);
}

// What libcrypto's function is not made for, or what libtommath defines its
// own way: the library's own result and return code (an error included).
TEST(ModularPower, UnusualCasesAreTheLibrarys) {
  ASSERT_NE(Tom().power, nullptr);
  std::mt19937_64 random(7);
  const Bytes p = RandomModulus(1024, random);
  Bytes even = p;
  even.back() &= 0xFE;
  const std::vector<Operands> cases = {
      {"exponent zero", Random(128, random), {}, p},
      {"negative exponent", {2}, {3}, p, false, true},
      {"negative exponent, base without an inverse", {3}, {1}, {9}, false, true},
      {"negative base", Random(128, random), Random(128, random), p, true},
      {"even modulus", Random(128, random), Random(128, random), even},
      {"modulus one", Random(16, random), Random(16, random), {1}},
      {"modulus zero", Random(16, random), Random(16, random), {}},
      {"negative modulus", Random(128, random), Random(128, random), p, false, false, true},
  };
  TestedModularPower power;
  ExpectSameAsLibrary(power, cases, Source::library);
  EXPECT_EQ(power.FastCount(), 0u);
  // And the usual ones still go to libcrypto afterwards.
  ExpectSameAsLibrary(power, UsualCases(), Source::libcrypto);
}

// libcrypto is not used unless its known-answer test passed with the
// caller's integer library: not loadable, not a shared object, without the
// functions, computing wrong powers, an integer library without the
// converters, or the test not run at all. Every result is then the library's,
// and nothing is said (the process's line says why, once).
TEST(ModularPower, WithoutAPassedKnownAnswerTestEveryResultIsTheLibrarys) {
  ASSERT_NE(Tom().power, nullptr);
  const std::string notAnObject = ::testing::TempDir() + "/nemvo-not-a-library.so";
  FILE* file = fopen(notAnObject.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fputs("not a shared object\n", file);
  fclose(file);
  void* converterless = dlopen(NEMVO_CONVERTERLESS_INTEGERS, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(converterless, nullptr) << dlerror();
  struct Setting {
    std::string crypto;
    void* testedWith;          // null: the test is not run
    std::string testSays;      // what the test answers, in part
  };
  const Setting settings[] = {
      {"libnemvo-no-such-crypto.so.3", Tom().handle, "libnemvo-no-such-crypto.so.3: cannot open shared object file"},
      {notAnObject, Tom().handle, notAnObject + ": "},
      {"libm.so.6", Tom().handle, "libm.so.6: BN_CTX_new is missing"},
      {NEMVO_WRONG_POWER_CRYPTO, Tom().handle, "libcrypto's result is not the known one"},
      {DefaultCryptoLibrary, converterless, "the integer library does not export mp_to_unsigned_bin"},
      {DefaultCryptoLibrary, nullptr, ""},
  };
  for (const Setting& setting : settings) {
    SCOPED_TRACE(setting.crypto + (setting.testedWith == converterless ? " with the converterless library" : ""));
    TModularPower power(setting.crypto);
    if (setting.testedWith) {
      testing::OutputCapture errors(2);
      const std::string says = power.SelfTest(setting.testedWith);
      EXPECT_NE(says.find(setting.testSays), std::string::npos) << says;
      EXPECT_EQ(errors.Text(), "");
    }
    EXPECT_FALSE(power.Tested());
    ExpectSameAsLibrary(power, UsualCases(), Source::library);
    EXPECT_EQ(power.FastCount(), 0u);
  }
  dlclose(converterless);
  unlink(notAnObject.c_str());
}

// Tested with one integer library, a caller of another one (here, one whose
// mp_exptmod answers MP_VAL to everything) gets that one's own function.
TEST(ModularPower, ACallerOfAnotherIntegerLibraryGetsItsOwn) {
  ASSERT_NE(Tom().power, nullptr);
  void* other = dlopen(NEMVO_CONVERTERLESS_INTEGERS, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(other, nullptr) << dlerror();
  TestedModularPower power;
  Int g({2}), x({3}), p({5}), y;
  Source source = Source::libcrypto;
  EXPECT_EQ(power.Compute(other, g.Get(), x.Get(), p.Get(), y.Get(), &source), MP_VAL);
  EXPECT_EQ(source, Source::library);
  EXPECT_EQ(power.FastCount(), 0u);
  dlclose(other);
}

// libtommath's own calls of mp_exptmod (its prime tests and square roots
// call it through its symbol table, which the program's exported function
// takes over) are known by where they come from, and go straight back to it.
TEST(ModularPower, KnowsTheTestedLibrarysOwnCode) {
  ASSERT_NE(Tom().power, nullptr);
  TModularPower untested;
  EXPECT_FALSE(untested.InTestedLibrary(reinterpret_cast<const void*>(Tom().power)));
  TestedModularPower power;
  EXPECT_TRUE(power.InTestedLibrary(reinterpret_cast<const void*>(Tom().power)));
  EXPECT_TRUE(power.InTestedLibrary(reinterpret_cast<const void*>(Tom().compareDigit)));
  EXPECT_FALSE(power.InTestedLibrary(reinterpret_cast<const void*>(&Expected)));
  EXPECT_FALSE(power.InTestedLibrary(reinterpret_cast<const void*>(&dlopen)));
  EXPECT_EQ(power.TestedPower(), reinterpret_cast<TModularPower::PowerFunction>(Tom().power));
}

// Threads that start at once on a tested object all get their own results.
TEST(ModularPower, ConcurrentCallsGetTheirOwnResults) {
  ASSERT_NE(Tom().power, nullptr);
  const std::vector<Operands> cases = UsualCases();
  std::vector<Outcome> expected;
  for (const Operands& o : cases) expected.push_back(Expected(o));
  TestedModularPower power;
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (size_t t = 0; t < wrong.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < cases.size(); ++i) {
        const size_t c = (i + t * 5) % cases.size();
        Source source;
        const Outcome computed = Computed(power, cases[c], kAliases[(i + t) % 4], source);
        if (computed.result != expected[c].result || computed.value != expected[c].value) ++wrong[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_EQ(power.FastCount(), 4 * cases.size());
}

// A caller whose scope has no integer library (none identified, the
// program's own, a library without one) gets the next definition of
// mp_exptmod among the loaded objects: here the test's privately loaded
// libtommath, as the client library loads its own. Never a call of itself,
// never MP_VAL for want of one. So does the program's exported function
// called from the program itself, whose caller no library identifies.
TEST(ModularPower, ACallerWithoutTheLibraryGetsTheNextDefinition) {
  ASSERT_NE(Tom().power, nullptr);
  void* program = dlopen(nullptr, RTLD_NOW);
  void* other = dlopen("libm.so.6", RTLD_NOW | RTLD_NOLOAD);
  for (bool tested : {false, true}) {
    TModularPower power;
    if (tested) {
      ASSERT_EQ(power.SelfTest(Tom().handle), "");
    }
    for (void* scope : {static_cast<void*>(nullptr), program, other}) {
      Int g({2}), x({3}), p({5}), y;
      Source source = Source::libcrypto;
      EXPECT_EQ(power.Compute(scope, g.Get(), x.Get(), p.Get(), y.Get(), &source), MP_OKAY) << tested;
      EXPECT_EQ(y.Text(), "03") << tested;
      EXPECT_EQ(source, Source::library) << tested;
    }
  }
  EXPECT_EQ(LibraryModularPower(nullptr), reinterpret_cast<TModularPower::PowerFunction>(Tom().power));
  Int g({7}), x({9}), p({11}), y;
  EXPECT_EQ(::mp_exptmod(g.Get(), x.Get(), p.Get(), y.Get()), MP_OKAY);
  EXPECT_EQ(y.Text(), "08");
  if (other) dlclose(other);
  dlclose(program);
}

}  // namespace
}  // namespace nemvo::platform
