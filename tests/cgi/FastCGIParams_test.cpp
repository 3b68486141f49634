// The parameters' decoder: both length encodings at their boundary, pairs
// cut at every byte across records, and limits that refuse a pair by its
// declared lengths before any of its bytes is held.
#include "cgi/FastCGIParams.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace nemvo {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string Encode(const Pairs& pairs) {
  std::string out;
  for (const auto& [name, value] : pairs) TFastCGIParams::AppendPair(out, name, value);
  return out;
}

Pairs Decoded(const TFastCGIParams& params) {
  Pairs out;
  for (size_t i = 0; i < params.Count(); ++i) out.emplace_back(params.Pair(i));
  return out;
}

TEST(FastCGIParams, LengthsTakeOneByteBelow128AndFourFromIt) {
  struct Line {
    size_t length;
    size_t encoded;  // bytes the length takes
  };
  for (const Line& line : {Line{0, 1}, Line{1, 1}, Line{127, 1}, Line{128, 4}, Line{65535, 4}, Line{200000, 4}}) {
    const std::string value(line.length, 'v');
    const std::string bytes = Encode({{"N", value}});
    EXPECT_EQ(bytes.size(), 1 + line.encoded + 1 + line.length) << line.length;
    if (line.encoded == 4) {
      EXPECT_EQ(static_cast<unsigned char>(bytes[1]) & 0x80, 0x80) << line.length;
    }
    TFastCGIParams params(1 << 20, 16);
    params.Feed(bytes);
    params.End();
    ASSERT_EQ(params.State(), TFastCGIParams::TState::Whole) << line.length;
    EXPECT_EQ(params.Find("N"), std::optional<std::string_view>(value)) << line.length;
  }
}

TEST(FastCGIParams, PairsCutAnywhereAcrossRecordsReadTheSame) {
  const Pairs pairs = {{"REQUEST_METHOD", "POST"},
                       {"", ""},
                       {std::string(130, 'n'), std::string(300, 'v')},
                       {"EMPTY", ""},
                       {"BINARY", std::string("\0\x80\xFF", 3)}};
  const std::string bytes = Encode(pairs);
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    TFastCGIParams params(1 << 20, 16);
    params.Feed(std::string_view(bytes).substr(0, cut));
    params.Feed(std::string_view(bytes).substr(cut));
    params.End();
    ASSERT_EQ(params.State(), TFastCGIParams::TState::Whole) << cut;
    ASSERT_EQ(Decoded(params), pairs) << cut;
  }
  TFastCGIParams byByte(1 << 20, 16);
  for (char c : bytes) byByte.Feed(std::string_view(&c, 1));
  byByte.End();
  EXPECT_EQ(Decoded(byByte), pairs);
}

TEST(FastCGIParams, LimitsHoldFromTheDeclaredLengths) {
  struct Line {
    const char* name;
    std::string bytes;
    TFastCGIParams::TState state;
    size_t held;  // bytes of names and values kept
  };
  const std::string tenPairs = Encode({{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}, {"E", "5"},
                                       {"F", "6"}, {"G", "7"}, {"H", "8"}, {"I", "9"}, {"J", "0"}});
  const Line lines[] = {
      {"exactly at the size", Encode({{"NAME", std::string(96, 'x')}}), TFastCGIParams::TState::Whole, 100},
      {"a byte beyond the size", Encode({{"NAME", std::string(97, 'x')}}), TFastCGIParams::TState::BeyondBytes, 0},
      {"beyond only with the second pair", Encode({{"A", std::string(60, 'x')}, {"B", std::string(60, 'x')}}),
       TFastCGIParams::TState::BeyondBytes, 61},
      {"2 GB declared, nothing sent", std::string("\x01\xFF\xFF\xFF\xFF", 5), TFastCGIParams::TState::BeyondBytes, 0},
      {"exactly at the count", tenPairs, TFastCGIParams::TState::Whole, 20},
      {"one pair beyond the count", tenPairs + Encode({{"K", ""}}), TFastCGIParams::TState::BeyondCount, 20},
  };
  for (const Line& line : lines) {
    TFastCGIParams params(100, 10);
    params.Feed(line.bytes);
    // Whatever follows a refusal is not held either.
    if (line.state != TFastCGIParams::TState::Whole) params.Feed(Encode({{"MORE", std::string(10, 'z')}}));
    params.End();
    EXPECT_EQ(params.State(), line.state) << line.name;
    EXPECT_EQ(params.Refused(), line.state != TFastCGIParams::TState::Whole) << line.name;
    EXPECT_EQ(params.Bytes(), line.held) << line.name;
  }
}

TEST(FastCGIParams, StreamEndingInsideAPairIsCut) {
  const std::string pair = Encode({{"NAME", std::string(200, 'v')}});
  // Inside the name's length, the value's four-byte length, the name, the value.
  for (size_t end : {size_t(0), size_t(1), size_t(3), size_t(6), size_t(100), pair.size() - 1}) {
    TFastCGIParams params(1 << 20, 16);
    params.Feed(std::string_view(pair).substr(0, end));
    params.End();
    EXPECT_EQ(params.State(), end == 0 ? TFastCGIParams::TState::Whole : TFastCGIParams::TState::Cut) << end;
  }
}

TEST(FastCGIParams, FirstOfTwoNamesAndClearedForTheNextRequest) {
  TFastCGIParams params(1 << 20, 16);
  params.Feed(Encode({{"X", "first"}, {"X", "second"}}));
  params.End();
  EXPECT_EQ(params.Find("X"), std::optional<std::string_view>("first"));
  EXPECT_EQ(params.Find("Y"), std::nullopt);
  params.Clear();
  EXPECT_EQ(params.State(), TFastCGIParams::TState::Reading);
  params.Feed(Encode({{"Y", "y"}}));
  params.End();
  EXPECT_EQ(Decoded(params), (Pairs{{"Y", "y"}}));
}

}  // namespace
}  // namespace nemvo
