#pragma once
// The web framework's own failures (request cycle, form decoding, dispatch).
#include "base/Exception.h"

namespace nemvo {

NEMVO_EXCEPTION(EWebException, Exception);

}  // namespace nemvo
