#pragma once
// Copies a template, replacing each transparent tag ("<#Name a=1 b=2>") by
// the text a tag handler gives for it.
#include <functional>
#include <string>

#include "base/Stream.h"
#include "base/StringList.h"

namespace nemvo {

// Returns the text that replaces the tag `tagString` with the parameters
// `tagParams` (name=value lines, owned by the caller, valid during the call).
using TTagHandler = std::function<std::string(const std::string& tagString, TStringList& tagParams)>;

// The template read from `input` (from its current position) with every
// transparent tag replaced by the handler's text, or removed when there is no
// handler. Tag parameters are split at spaces and URL-decoded; quotes around
// values are removed when `stripParamQuotes`. Text outside tags is copied
// unchanged; a replacement is not scanned again.
//
// Raises EParserError "Line too long on line N" for a line that does not fit
// the scanner's buffer, and the decoding errors of a malformed "%" escape in a
// tag's parameters. Exceptions of the handler and of the stream pass through.
std::string ExpandTemplate(TStream& input, bool stripParamQuotes, const TTagHandler& handler);

}  // namespace nemvo
