#pragma once
// The process-wide SQL trace hook. Texts written to it reach the trace
// readers (nemvo-trace) registered on the machine's shared trace channel; with
// no reader registered they are dropped. The caller's thread only queues
// them (TWriterThread): it never waits for the channel or its readers.
#include <memory>
#include <string>

#include "db/IBConnection.h"
#include "db/TraceAccess.h"
#include "db/TraceFlags.h"

namespace nemvo {

class IIBSQLMonitorHook {
 public:
  virtual ~IIBSQLMonitorHook() = default;

  // "[Error] " + text, when the hook is enabled and traces tfError.
  virtual void TraceError(const std::string& text) = 0;
  // The same, only when the connection's TraceFlags also hold tfError.
  virtual void TraceError(const std::string& text, const IIBConnection& connection) = 0;
  // "<name>: [Connect]" / "<name>: [Disconnect]" when tfConnect is in both
  // the connection's and the hook's categories.
  virtual void TraceConnect(const IIBConnection& connection) = 0;
  virtual void TraceDisconnect(const IIBConnection& connection) = 0;
  // "[Misc] " + text, when the hook traces tfMisc.
  virtual void TraceMisc(const std::string& text) = 0;

  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  // The hook's own categories (all of them at creation).
  virtual TTraceFlags TraceFlags() const = 0;
  virtual void SetTraceFlags(TTraceFlags flags) = 0;
};

// The hook, created on first use; null once process shutdown has begun.
std::shared_ptr<IIBSQLMonitorHook> AcquireTraceHook();

// The access of the trace channel (TTraceAccess: on or off, and its group)
// from now on, as the program's configuration gives it; cheap when nothing
// changed, so that a program may call it on every request. Off closes the
// channel, and with tracing off from the start no object of it is ever
// made. Until it is called: TTraceChannel::DefaultAccess().
void SetTraceAccess(const TTraceAccess& access);

// Stops the hook's writer (delivering what readers take within about a
// second) and refuses new hooks. Runs by itself at process exit; callable
// earlier by a program that wants the end of its trace output under control.
void ShutdownTraceHook();

}  // namespace nemvo
