#pragma once
// Turns client-library failures and the components' own failures into
// exceptions of the EIBError family, offering each text to the trace hook.
#include <ibase.h>

#include <initializer_list>
#include <string>

#include "base/Format.h"
#include "db/ClientErrorKind.h"
#include "db/IBConnection.h"
#include "db/IBErrors.h"

namespace nemvo {

inline constexpr int StatusVectorLength = ISC_STATUS_LENGTH;

// The calling thread's status vector (StatusVectorLength entries, zero at
// thread start); every client-library call made on this thread fills it.
ISC_STATUS* ThreadStatusVector();

// The messages of the thread's status vector, joined by CR LF (none after a
// message that already ends in LF), with one final period removed.
std::string ComposeStatusText();

// Raises EIBInterBaseError (EIBInterBaseRoleError for SQLCODE -551) from the
// thread's status vector, after offering its text to the trace hook.
[[noreturn]] void RaiseDatabaseError();

// Raises EIBClientError whose code is the kind's ordinal and whose text is the
// already formatted `text`; every kind but ceSharedResourceFailed is traced.
[[noreturn]] void RaiseClientErrorText(ClientErrorKind kind, std::string text);

// Raises the kind's message formatted with `args` (arguments without a
// placeholder are ignored).
template <class... Args>
[[noreturn]] void RaiseClientError(ClientErrorKind kind, const Args&... args) {
  RaiseClientErrorText(kind, Format(ClientErrorText(kind), args...));
}

// Whether the thread's status vector holds one of `codes`.
bool StatusHasCode(std::initializer_list<ISC_STATUS> codes);

// The check a connection applies to the result of each client-library call:
// marks the connection busy; with `raiseOnError`, a lost connection closes it
// by force and raises, any other failure (result above 0) raises. Returns the
// result when it does not raise.
ISC_STATUS CheckConnectionCall(IIBConnection& connection, ISC_STATUS result, bool raiseOnError);

}  // namespace nemvo
