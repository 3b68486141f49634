#include "platform/CaseFolding.h"

#include <algorithm>
#include <array>

namespace nemvo::platform {

namespace {

struct Tables {
  std::array<unsigned char, 256> lower{};
  std::array<unsigned char, 256> upper{};
  constexpr Tables() {
    for (int i = 0; i < 256; ++i) lower[size_t(i)] = upper[size_t(i)] = static_cast<unsigned char>(i);
    auto pair = [this](int up, int low) {
      lower[size_t(up)] = static_cast<unsigned char>(low);
      upper[size_t(low)] = static_cast<unsigned char>(up);
    };
    for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
    // Latin-1 letters À..Þ and their partners à..þ, except × and ÷.
    for (int c = 0xC0; c <= 0xDE; ++c)
      if (c != 0xD7) pair(c, c + 32);
    // Windows-1252 letters in the 0x80-0x9F block.
    pair(0x8A, 0x9A);  // Š š
    pair(0x8C, 0x9C);  // Œ œ
    pair(0x8E, 0x9E);  // Ž ž
    pair(0x9F, 0xFF);  // Ÿ ÿ
  }
};

constexpr Tables kTables{};

}  // namespace

unsigned char AnsiLowerChar(unsigned char c) { return kTables.lower[c]; }
unsigned char AnsiUpperChar(unsigned char c) { return kTables.upper[c]; }

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(AnsiLowerChar(static_cast<unsigned char>(c)));
  return out;
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(AnsiUpperChar(static_cast<unsigned char>(c)));
  return out;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = AnsiLowerChar(static_cast<unsigned char>(a[i]));
    unsigned char y = AnsiLowerChar(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

}  // namespace nemvo::platform
