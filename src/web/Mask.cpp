#include "web/Mask.h"

namespace nemvo {

namespace {

[[noreturn]] void InvalidMask(std::string_view mask, size_t position) {
  throw EMaskException(Format("'%s' is an invalid mask at (%d)", mask, position));
}

// Compiles in two runs over the text: the first (steps == nullptr) validates
// the sets and counts the steps, the second writes them into an array of
// exactly that size. The limit on "*" runs is checked while writing, so a
// malformed set anywhere in the text is reported before it.
int CompileMask(std::string_view mask, MaskStep* steps) {
  int count = 0;
  int starRuns = 0;
  bool pendingStar = false;
  const size_t n = mask.size();
  // Finishes the step just read; `at` is the 1-based position that completes it.
  auto emit = [&](const MaskStep& step, size_t at) {
    if (steps) {
      MaskStep& out = steps[count];
      out = step;
      out.SkipAhead = pendingStar;
      if (pendingStar && ++starRuns > TMask::MaxStarRuns) InvalidMask(mask, at);
    }
    ++count;
    pendingStar = false;
  };

  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(mask[i]);
    if (c == '*') {
      pendingStar = true;
      ++i;
    } else if (c == '?') {
      // "*?" compiles like "*": a "?" behind a pending "*" is dropped.
      if (!pendingStar) {
        MaskStep step;
        step.Kind = AnyCharStep;
        emit(step, i + 1);
      }
      ++i;
    } else if (c == '[') {
      MaskStep step;
      step.Kind = SetStep;
      ++i;
      if (i < n && mask[i] == '!') {
        step.Negated = true;
        ++i;
      }
      bool any = false;
      unsigned char previous = 0;
      while (i < n && mask[i] != ']') {
        if (mask[i] == '-') {
          if (!any) InvalidMask(mask, i + 1);
          ++i;
          if (i >= n) break;  // unclosed: reported below
          const unsigned char upper = TMask::UpCase(static_cast<unsigned char>(mask[i]));
          for (unsigned v = previous; v <= upper; ++v) step.SetAdd(static_cast<unsigned char>(v));
          ++i;
        } else {
          previous = TMask::UpCase(static_cast<unsigned char>(mask[i]));
          step.SetAdd(previous);
          any = true;
          ++i;
        }
      }
      if (i >= n) InvalidMask(mask, n + 1);
      if (!any) InvalidMask(mask, i + 1);
      emit(step, i + 1);
      ++i;  // the "]"
    } else {
      MaskStep step;
      step.Literal = TMask::UpCase(c);
      emit(step, i + 1);
      ++i;
    }
  }
  emit(MaskStep{}, n + 1);  // the end step: a LiteralStep holding NUL
  return count;
}

// Whether step `s` (not the end step) is satisfied by the character at x.
inline bool CharFits(const MaskStep& s, std::string_view text, size_t x) {
  if (x >= text.size()) return false;
  const unsigned char c = TMask::UpCase(static_cast<unsigned char>(text[x]));
  switch (s.Kind) {
    case LiteralStep: return c == s.Literal;
    case AnyCharStep: return true;
    case SetStep: return s.SetHas(c) != s.Negated;
  }
  return false;
}

}  // namespace

TMask::TMask(std::string_view mask) {
  const int count = CompileMask(mask, nullptr);
  fSteps = std::make_unique<MaskStep[]>(size_t(count));
  fStepCount = CompileMask(mask, fSteps.get());
}

TMask::~TMask() = default;

// The steps fall into runs: a leading run anchored at the start, then one run
// per "*", each a step that may be found anywhere further on followed by
// steps that must come right after it. Because a "*" may swallow any amount
// of text, the earliest place where a run fits is never worse than a later
// one: the next run can still start anywhere after it. So every run but the
// last is placed at its earliest fit, and the last, which holds the end
// step, must end exactly at the end of the text. This decides the same texts
// as trying every placement of every "*", in time linear in text x steps.
bool TMask::Accepts(std::string_view text) const {
  const MaskStep* steps = fSteps.get();
  const size_t last = size_t(fStepCount) - 1;  // the end step
  const size_t len = text.size();

  // Steps i..j-1 (j - 1 <= last) placed from text position q.
  auto runFits = [&](size_t i, size_t j, size_t q) {
    for (size_t k = i; k < j; ++k, ++q) {
      if (k == last) return q == len;
      if (!CharFits(steps[k], text, q)) return false;
    }
    return true;
  };

  size_t i = 0;
  size_t p = 0;
  while (i <= last && !steps[i].SkipAhead) ++i;
  if (!runFits(0, i, 0)) return false;
  if (i > last) return true;
  p = i;  // each step of the leading run consumed one character

  for (;;) {
    size_t j = i + 1;
    while (j <= last && !steps[j].SkipAhead) ++j;
    const size_t width = j - i;  // characters the run consumes (the end step counts one)
    if (j > last) {
      // The final run ends with the end step, which sits at the end of the text.
      if (len + 1 < p + width) return false;
      return runFits(i, j, len + 1 - width);
    }
    size_t q = p;
    while (q + width <= len && !runFits(i, j, q)) ++q;
    if (q + width > len) return false;
    p = q + width;
    i = j;
  }
}

}  // namespace nemvo
