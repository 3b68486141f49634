// Form decoding of request bodies: a login body as browsers post it, and
// large bodies with many fields, many escapes or many quotes, which must all
// cost time in proportion to their size.
#include <benchmark/benchmark.h>

#include <string>

#include "base/StringList.h"
#include "cgi/HTTPFields.h"

namespace {

using nemvo::CharSet;
using nemvo::TCharSet;
using nemvo::TStringList;

void Split(benchmark::State& state, const std::string& body, bool stripQuotes) {
  const TCharSet separators = CharSet("&"), white;
  for (auto _ : state) {
    TStringList list;
    nemvo::SplitHTTPFields(separators, white, body, list, stripQuotes);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
}

void BM_LoginBody(benchmark::State& state) { Split(state, "u=admin&p=s%3Dcr+t", false); }
BENCHMARK(BM_LoginBody);

void BM_ManyFields(benchmark::State& state) {
  std::string body;
  while (body.size() < size_t(state.range(0))) body += "field=value&";
  Split(state, body, false);
}
BENCHMARK(BM_ManyFields)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_AllEscapes(benchmark::State& state) {
  std::string body = "u=";
  while (body.size() < size_t(state.range(0))) body += "%E9";
  Split(state, body, false);
}
BENCHMARK(BM_AllEscapes)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_QuotesStripped(benchmark::State& state) {
  std::string body = "u=";
  while (body.size() < size_t(state.range(0))) body += "'\"";
  Split(state, body, true);
}
BENCHMARK(BM_QuotesStripped)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
