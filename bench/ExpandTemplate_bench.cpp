// Expanding a 16 MiB template with one transparent tag every KiB, against
// reading the same file through the same 4096-byte pieces. Goal: expansion
// takes at most 4 times as long as the read, and the heap in use while it
// runs stays within the produced page plus the scanner's 4096-byte buffer
// (small fixed overheads aside).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "base/FileStream.h"
#include "templates/PageProducer.h"

// Heap accounting for the memory figures: every allocation of the program.
namespace {
std::atomic<int64_t> gHeapInUse{0};
std::atomic<int64_t> gHeapPeak{0};

void* CountedAlloc(size_t size) {
  void* p = std::malloc(size + 16);
  if (!p) throw std::bad_alloc();
  *static_cast<size_t*>(p) = size;
  int64_t now = gHeapInUse += int64_t(size);
  int64_t peak = gHeapPeak.load();
  while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {}
  return static_cast<char*>(p) + 16;
}
void CountedFree(void* p) noexcept {
  if (!p) return;
  char* base = static_cast<char*>(p) - 16;
  gHeapInUse -= int64_t(*reinterpret_cast<size_t*>(base));
  std::free(base);
}
}  // namespace

void* operator new(size_t size) { return CountedAlloc(size); }
void* operator new[](size_t size) { return CountedAlloc(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, size_t) noexcept { CountedFree(p); }

namespace {

constexpr size_t TemplateSize = 16u << 20;

// An HTML-like template: table rows of text and markup, with one transparent
// tag every 1024 bytes, with three parameters (one of them URL-encoded) or
// none. Both files have the same size.
std::string MakeTemplateFile(bool withParams) {
    std::string pattern = (std::filesystem::temp_directory_path() / "nemvo-bench-XXXXXX").string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    const std::string rows[] = {
        "  <tr class=\"row\"><td>Cliente</td><td>S\xE3o Paulo &amp; Regi\xE3o</td><td>12.345,67</td></tr>\r\n",
        "  <tr><td colspan=\"3\">Lorem ipsum dolor sit amet, consectetur adipiscing elit.</td></tr>\r\n",
        "  <p>Texto <b>em negrito</b> e <i>it\xE1lico</i>, com 100 % de <a href=\"/x?a=1&b=2\">links</a>.</p>\r\n",
    };
    std::string text;
    text.reserve(TemplateSize + 1024);
    size_t nextTag = 0;
    for (size_t i = 0; text.size() < TemplateSize; ++i) {
      if (text.size() >= nextTag) {
        text += withParams ? "<#Item id=" + std::to_string(i) + " class=\"linha par\" title=Pre%E7o+total>\r\n"
                           : std::string("<#Item>\r\n");
        nextTag += 1024;
      }
      text += rows[i % 3];
    }
    text.resize(TemplateSize);
    std::ofstream(pattern, std::ios::binary).write(text.data(), std::streamsize(text.size()));
    return pattern;
}

const std::string& TemplateFile(bool withParams) {
  static const std::string plain = MakeTemplateFile(false);
  static const std::string params = MakeTemplateFile(true);
  static const bool cleanUp = [] {
    std::atexit([] {
      std::filesystem::remove(plain);
      std::filesystem::remove(params);
    });
    return true;
  }();
  (void)cleanUp;
  return withParams ? params : plain;
}

void ReadTemplateFile(benchmark::State& state) {
  const std::string& name = TemplateFile(true);
  char buffer[4096];
  for (auto _ : state) {
    nemvo::TFileStream stream(name);
    int64_t total = 0;
    for (int64_t n; (n = stream.Read(buffer, sizeof buffer)) > 0;) total += n;
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(TemplateSize));
}
BENCHMARK(ReadTemplateFile)->Unit(benchmark::kMillisecond);

void ExpandTemplateFile(benchmark::State& state) {
  const bool withParams = state.range(0) != 0;
  const bool withHandler = state.range(1) != 0;
  nemvo::TPageProducer producer;
  producer.SetHTMLFile(TemplateFile(withParams));
  if (withHandler)
    producer.SetOnHTMLTag([](nemvo::TObject*, nemvo::TTag, const std::string&, nemvo::TStringList& params,
                             std::string& replaceText) { replaceText = "<td>" + params.Values("id") + "</td>"; });
  int64_t outputSize = 0, extraHeap = 0;
  for (auto _ : state) {
    int64_t before = gHeapInUse.load();
    gHeapPeak = before;
    std::string page = producer.ProduceContent();
    outputSize = int64_t(page.size());
    extraHeap = std::max(extraHeap, gHeapPeak.load() - before - int64_t(page.size()));
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(TemplateSize));
  state.counters["page_bytes"] = double(outputSize);
  // Peak heap during one expansion beyond the page itself.
  state.counters["heap_over_page"] = double(extraHeap);
}
BENCHMARK(ExpandTemplateFile)
    ->ArgNames({"params", "handler"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
