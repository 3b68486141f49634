#pragma once
// The database parameter block: the name=value lines of a connection's Params
// turned into the bytes that the attach call sends to the server.
#include <array>
#include <string>

#include "base/StringList.h"

namespace nemvo {

// The parameter names the block builder knows. A name's position plus one is
// its item code (the published isc_dpb code of that number).
inline constexpr int DpbItemCount = 83;
extern const std::array<const char*, DpbItemCount> DpbItemNames;

// The longest user name the server accepts; a longer one is refused here,
// before it can reach a server that does not survive it.
inline constexpr size_t MaxDpbUserNameLength = 31;

// The attach call carries the block's length as a signed 16-bit number; a
// longer block would reach the server cut off or with a negative length.
inline constexpr size_t MaxDpbLength = 32767;

// The block for `params`: the version byte, then one item per line that names
// a parameter. A line without a name is skipped. Raises EIBClientError for a
// name that is unknown or has no encoding, and for a value too long for its
// item (more than 255 bytes, or a user name longer than
// MaxDpbUserNameLength) or for the item that makes the block longer than
// MaxDpbLength; EConvertError for a value that must be an integer
// and is not. Nothing is built when it raises.
std::string BuildParameterBlock(const TStringList& params);

// Appends the connect time-out item (isc_dpb_connect_timeout, a 4-byte
// count of seconds, least significant byte first) to a built block.
void AppendConnectTimeout(std::string& block, int seconds);

}  // namespace nemvo
