#pragma once
// The mask matcher written the plain way, straight from its steps: try each
// step in turn and, on failure, resume at the most recently saved later
// occurrence of a "*" step. Exponential in the worst case; kept here only to
// check that the linear matcher decides the same texts.
#include <array>
#include <stdexcept>
#include <string_view>

#include "web/Mask.h"

namespace nemvo::testing {

inline bool BacktrackingAccepts(const TMask& mask, std::string_view text) {
  struct Resume { size_t position; int step; };
  std::array<Resume, TMask::MaxStarRuns> stack{};
  int depth = 0;
  const int last = mask.StepCount() - 1;
  const size_t len = text.size();
  // Does the character at p (NUL at the end of the text) satisfy step s?
  auto fits = [&](int s, size_t p) {
    const MaskStep& step = mask.Step(s);
    if (p >= len) return s == last;  // only the end step passes at the end
    if (s == last) return false;
    const unsigned char c = TMask::UpCase(static_cast<unsigned char>(text[p]));
    switch (step.Kind) {
      case LiteralStep: return c == step.Literal;
      case AnyCharStep: return true;
      case SetStep: return step.SetHas(c) != step.Negated;
    }
    return false;
  };

  size_t p = 0;
  int s = 0;
  for (;;) {
    bool failed = false;
    for (; s <= last; ++s) {
      if (mask.Step(s).SkipAhead) {
        if (mask.Step(s).Kind != AnyCharStep)
          while (p < len && !fits(s, p)) ++p;
        if (p < len) {
          if (depth == TMask::MaxStarRuns) throw std::logic_error("resume stack overflow");
          stack[size_t(depth++)] = Resume{p + 1, s};
        }
      }
      if (!fits(s, p)) { failed = true; break; }
      ++p;
    }
    if (!failed) return true;
    if (depth == 0) return false;
    --depth;
    p = stack[size_t(depth)].position;
    s = stack[size_t(depth)].step;
  }
}

}  // namespace nemvo::testing
