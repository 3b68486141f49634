#pragma once
// What the error reporting and the trace hook need of a database connection.
// The connection component implements it; keeping it this small lets the
// reporting code stay below the component in the dependency order.
#include <string>

#include "db/TraceFlags.h"

namespace nemvo {

class IIBConnection {
 public:
  // The categories this connection wants traced (empty: never traced).
  virtual TTraceFlags TraceFlags() const = 0;
  // The name trace messages show for this connection (its component name).
  virtual std::string TraceName() const = 0;
  // Every client-library call that is checked marks the connection as busy.
  virtual void ClearIdleFlag() = 0;
  // Closes the attachment whatever the server says; used on a lost connection.
  virtual void ForceDisconnect() = 0;

 protected:
  ~IIBConnection() = default;
};

}  // namespace nemvo
