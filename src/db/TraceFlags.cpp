#include "db/TraceFlags.h"

namespace nemvo {

const char* TraceFlagName(int32_t ordinal) {
  static constexpr const char* Names[TraceFlagCount] = {"QPrepare", "QExecute", "QFetch",  "Error",   "Stmt",
                                                        "Connect",  "Transact", "Blob",    "Service", "Misc"};
  if (ordinal < 0 || ordinal >= TraceFlagCount) return "Unknown";
  return Names[ordinal];
}

}  // namespace nemvo
