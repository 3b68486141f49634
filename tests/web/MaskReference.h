#pragma once
// A second reading of the mask language, kept apart from TMask: it reads the
// mask text itself into its own tokens and decides a text by tracking every
// position each token can be reached at. It shares nothing with the mask's
// compiler or matcher, so a fault in either shows up as a disagreement.
//
// The rules it follows:
// - "*" (any run of them) lets the next token be found anywhere further on;
//   a "?" right after a pending "*" (or after other such "?") is dropped.
// - "?" is any one character; "[...]" one character of a set, "[!...]" one
//   character outside it; anything else one character, letters a to z
//   compared as A to Z and every other byte exactly.
// - In a set, "-" after a character adds the range from the last character
//   added (a range does not change it) up to the next character, whatever
//   that is, "]" included; a reversed range adds nothing. "-" with no
//   character before it, an empty set and an unclosed set are errors.
// - The end of the mask is a token too, satisfied only at the end of the
//   text, and it takes a pending "*" like any other.
// - At most 30 tokens may follow a "*"; the 31st is an error, reported at
//   the character that completes it (one past the mask for the end token).
#include <bitset>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nemvo::testing {

class MaskReference {
 public:
  explicit MaskReference(std::string_view mask) { Read(mask); }

  // The 1-based position of the error, when the mask is invalid.
  std::optional<size_t> ErrorAt() const { return fErrorAt; }
  int StarredTokens() const { return fStarred; }

  // Whether the whole text fits; the mask must be valid.
  bool Accepts(std::string_view text) const {
    const size_t len = text.size();
    // at[p]: the current token can start at text position p.
    std::vector<bool> at(len + 2, false);
    at[0] = true;
    for (const Token& token : fTokens) {
      if (token.star) {  // reachable from any earlier reachable position
        bool seen = false;
        for (size_t p = 0; p <= len; ++p) {
          seen = seen || at[p];
          at[p] = seen;
        }
      }
      std::vector<bool> next(len + 2, false);
      for (size_t p = 0; p <= len; ++p) {
        if (!at[p]) continue;
        if (token.kind == Kind::End) {
          if (p == len) return true;
        } else if (p < len && Fits(token, static_cast<unsigned char>(text[p]))) {
          next[p + 1] = true;
        }
      }
      at.swap(next);
    }
    return false;
  }

 private:
  enum class Kind { Char, Any, Set, End };
  struct Token {
    bool star = false;
    Kind kind = Kind::Char;
    unsigned char c = 0;
    bool negated = false;
    std::bitset<256> set;
  };

  static unsigned char Fold(unsigned char c) { return ('a' <= c && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c; }

  static bool Fits(const Token& token, unsigned char c) {
    switch (token.kind) {
      case Kind::Char: return Fold(c) == token.c;
      case Kind::Any: return true;
      case Kind::Set: return token.set.test(Fold(c)) != token.negated;
      case Kind::End: return false;
    }
    return false;
  }

  void Read(std::string_view mask) {
    bool star = false;
    // Returns false once the mask is found invalid.
    auto add = [&](Token token, size_t completedAt) {
      token.star = star;
      if (star && ++fStarred > 30) {
        fErrorAt = completedAt;
        return false;
      }
      star = false;
      fTokens.push_back(token);
      return true;
    };
    // Sets are checked over the whole mask before the "*" limit: the first
    // malformed set is the error even when the limit was passed before it.
    std::optional<size_t> limitError;
    size_t i = 0;
    while (i < mask.size()) {
      const unsigned char c = static_cast<unsigned char>(mask[i]);
      Token token;
      if (c == '*') {
        star = true;
        ++i;
        continue;
      }
      if (c == '?') {
        ++i;
        if (star) continue;
        token.kind = Kind::Any;
        if (!limitError && !add(token, i)) limitError = fErrorAt;
        continue;
      }
      if (c == '[') {
        token.kind = Kind::Set;
        ++i;
        if (i < mask.size() && mask[i] == '!') {
          token.negated = true;
          ++i;
        }
        std::optional<unsigned char> last;
        for (;;) {
          if (i >= mask.size()) {
            fErrorAt = mask.size() + 1;
            return;
          }
          const unsigned char m = static_cast<unsigned char>(mask[i]);
          if (m == ']') break;
          if (m == '-') {
            if (!last) {
              fErrorAt = i + 1;
              return;
            }
            if (i + 1 >= mask.size()) {
              fErrorAt = mask.size() + 1;
              return;
            }
            const unsigned bound = Fold(static_cast<unsigned char>(mask[i + 1]));
            for (unsigned v = *last; v <= bound; ++v) token.set.set(v);
            i += 2;
          } else {
            last = Fold(m);
            token.set.set(*last);
            ++i;
          }
        }
        if (!last) {  // nothing was added before the "]"
          fErrorAt = i + 1;
          return;
        }
        ++i;  // the "]"
        if (!limitError && !add(token, i)) limitError = fErrorAt;
        continue;
      }
      token.kind = Kind::Char;
      token.c = Fold(c);
      ++i;
      if (!limitError && !add(token, i)) limitError = fErrorAt;
    }
    Token end;
    end.kind = Kind::End;
    if (!limitError) add(end, mask.size() + 1);
    fErrorAt = limitError ? limitError : fErrorAt;
  }

  std::vector<Token> fTokens;
  int fStarred = 0;
  std::optional<size_t> fErrorAt;
};

}  // namespace nemvo::testing
