#include "base/RequestProgress.h"

namespace nemvo {

namespace {
IRequestProgress* gProgress = nullptr;
}  // namespace

void SetRequestProgress(IRequestProgress* progress) { gProgress = progress; }
IRequestProgress* RequestProgress() { return gProgress; }

}  // namespace nemvo
