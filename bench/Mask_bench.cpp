// Path mask matching: the pathological many-"*" mask that plain backtracking
// cannot finish, and the one mask this site routes by.
#include <benchmark/benchmark.h>

#include <string>

#include "web/Mask.h"

namespace {

std::string ManyStars() {
  std::string mask;
  for (int i = 0; i < nemvo::TMask::MaxStarRuns; ++i) mask += "*a";
  return mask + "b";
}

void BM_ManyStarsRejected(benchmark::State& state) {
  const nemvo::TMask mask(ManyStars());
  const std::string text(size_t(state.range(0)), 'a');
  for (auto _ : state) benchmark::DoNotOptimize(mask.Accepts(text));
  state.SetLabel(mask.Accepts(text) ? "accepted" : "rejected");
}
BENCHMARK(BM_ManyStarsRejected)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMicrosecond);

void BM_ManyStarsAccepted(benchmark::State& state) {
  const nemvo::TMask mask(ManyStars());
  const std::string text = std::string(size_t(state.range(0)), 'a') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(mask.Accepts(text));
  state.SetLabel(mask.Accepts(text) ? "accepted" : "rejected");
}
BENCHMARK(BM_ManyStarsAccepted)->Arg(4000)->Unit(benchmark::kMicrosecond);

// A run that fits nearly everywhere but fails at its last step.
void BM_LongRunNearMisses(benchmark::State& state) {
  const nemvo::TMask mask("*" + std::string(30, 'a') + "b*c");
  const std::string text(size_t(state.range(0)), 'a');
  for (auto _ : state) benchmark::DoNotOptimize(mask.Accepts(text));
}
BENCHMARK(BM_LongRunNearMisses)->Arg(4000)->Unit(benchmark::kMicrosecond);

void BM_MainAccepts(benchmark::State& state, const char* pathInfo) {
  const nemvo::TMask mask("/main");
  const std::string text(pathInfo);
  for (auto _ : state) benchmark::DoNotOptimize(mask.Accepts(text));
}
BENCHMARK_CAPTURE(BM_MainAccepts, exact, "/main");
BENCHMARK_CAPTURE(BM_MainAccepts, upper_case, "/MAIN");
BENCHMARK_CAPTURE(BM_MainAccepts, other_path, "/admin/users/list");

void BM_CompileMain(benchmark::State& state) {
  for (auto _ : state) {
    nemvo::TMask mask("/main");
    benchmark::DoNotOptimize(mask.StepCount());
  }
}
BENCHMARK(BM_CompileMain);

}  // namespace
