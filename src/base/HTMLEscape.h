#pragma once
// Text that reaches a page from outside (a URL, an error message quoting a
// request) is escaped before it becomes markup.
#include <string>
#include <string_view>

namespace nemvo {

// Replaces &, <, > and " by their character references; other bytes stay.
void AppendHTMLEscaped(std::string& out, std::string_view text);
std::string HTMLEscape(std::string_view text);

}  // namespace nemvo
