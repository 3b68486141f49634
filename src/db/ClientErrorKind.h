#pragma once
// Errors that the database components detect themselves. The ordinal of a
// kind is the code an EIBClientError carries, so the values are fixed.
#include <cstdint>

namespace nemvo {

enum class ClientErrorKind : int32_t {
  ceUnknownError = 0,
  ceLibraryMissing = 1,
  ceNeedsVersion6 = 3,
  ceOperationCancelled = 10,
  ceDpbItemNotSupported = 11,
  ceDbNotOpen = 15,
  ceDbAlreadyOpen = 16,
  ceDbNameMissing = 17,
  ceTimeoutNegative = 20,
  ceSharedResourceFailed = 58,
  ceSqlDialectInvalid = 87,
  ceDpbItemUnrecognised = 114,
  // Refused before anything is sent: the value does not fit the one-byte
  // length of a parameter-block item, or is longer than the server accepts.
  ceDpbValueTooLong = 121,
};
// Ordinals run from 0 to ClientErrorKindCount - 1; ordinals that have no
// name above belong to features this program does not have.
inline constexpr int32_t ClientErrorKindCount = 122;

// The kind's message: a format for Format() with its %s / %d placeholders.
// An ordinal outside the table gives the text of ceUnknownError.
const char* ClientErrorText(ClientErrorKind kind);

}  // namespace nemvo
