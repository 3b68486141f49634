#include "db/IBSQLMonitorHook.h"

namespace nemvo {

std::shared_ptr<IIBSQLMonitorHook> AcquireTraceHook() { return nullptr; }

void ShutdownTraceHook() {}

}  // namespace nemvo
