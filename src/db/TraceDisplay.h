#pragma once
// Trace messages as a terminal may be given them. Their texts come from any
// account on the machine (every account may write the channel), so no byte
// that a terminal acts on reaches it as it is: C0 controls other than line
// breaks and tabs, DEL and the C1 controls are shown as \xHH.
#include <string>

namespace nemvo {

// `text` (ISO-8859-1, lines ended by CR LF) with lines ended by LF, control
// bytes escaped, and the other bytes above 127 in UTF-8, or as they are when
// `raw`.
std::string DisplayTraceText(const std::string& text, bool raw);

}  // namespace nemvo
