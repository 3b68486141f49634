#include "db/IBSQLMonitorHook.h"

#include <mutex>

#include "db/IBErrors.h"
#include "db/TraceChannel.h"
#include "db/WriterThread.h"
#include "platform/CaseFolding.h"
#include "platform/ProcessInfo.h"

namespace nemvo {

namespace {

// The program's file name without directory, cut before its first ".", all
// but the first character lowered: "nemvoweb.cgi" gives "nemvoweb".
std::string ApplicationTitle() {
  std::string name = platform::ExecutableFileName();
  name = name.substr(0, name.find('.'));
  if (name.size() > 1) name = name.substr(0, 1) + platform::AnsiLowerCase(name.substr(1));
  return name;
}

class TIBSQLMonitorHook final : public IIBSQLMonitorHook {
 public:
  void TraceError(const std::string& text) override {
    if (Traces(TTraceFlag::tfError)) WriteSQLData("[Error] " + text, TTraceFlag::tfError);
  }
  void TraceError(const std::string& text, const IIBConnection& connection) override {
    if (Traces(TTraceFlag::tfError) && connection.TraceFlags().Contains(TTraceFlag::tfError))
      WriteSQLData("[Error] " + text, TTraceFlag::tfError);
  }
  void TraceConnect(const IIBConnection& connection) override {
    if (Traces(TTraceFlag::tfConnect) && connection.TraceFlags().Contains(TTraceFlag::tfConnect))
      WriteSQLData(connection.TraceName() + ": [Connect]", TTraceFlag::tfConnect);
  }
  void TraceDisconnect(const IIBConnection& connection) override {
    if (Traces(TTraceFlag::tfConnect) && connection.TraceFlags().Contains(TTraceFlag::tfConnect))
      WriteSQLData(connection.TraceName() + ": [Disconnect]", TTraceFlag::tfConnect);
  }
  void TraceMisc(const std::string& text) override {
    if (Traces(TTraceFlag::tfMisc)) WriteSQLData("[Misc] " + text, TTraceFlag::tfMisc);
  }

  bool Enabled() const override {
    std::lock_guard guard(fLock);
    return fEnabled;
  }
  void SetEnabled(bool enabled) override {
    std::lock_guard guard(fLock);
    fEnabled = enabled;
  }
  TTraceFlags TraceFlags() const override {
    std::lock_guard guard(fLock);
    return fFlags;
  }
  void SetTraceFlags(TTraceFlags flags) override {
    std::lock_guard guard(fLock);
    fFlags = flags;
  }

  // Stops the writer; later messages are dropped.
  void Shutdown() {
    std::unique_ptr<TWriterThread> writer;
    {
      std::lock_guard guard(fLock);
      fShutDown = true;
      writer = std::move(fWriter);
    }
    if (writer) writer->Stop();
  }

 private:
  bool Traces(TTraceFlag flag) const {
    std::lock_guard guard(fLock);
    return fEnabled && fFlags.Contains(flag);
  }

  void WriteSQLData(const std::string& text, TTraceFlag flag) {
    std::lock_guard guard(fLock);
    if (fShutDown || !fEnabled) return;
    if (!fChannel) {
      try {
        fChannel = TTraceChannel::Open();
      } catch (const EIBClientError&) {
        // Tracing is optional: without a channel it stops for the rest of
        // the process and the caller never notices.
        fEnabled = false;
        return;
      }
    }
    // With no reader registered the message goes nowhere, and no writer
    // thread is started for it.
    if (fChannel->MonitorCount() == 0) return;
    if (!fWriter) fWriter = std::make_unique<TWriterThread>(*fChannel);
    fWriter->WriteSQLData("\r\n[Application: " + ApplicationTitle() + "]\r\n" + text, flag);
  }

  mutable std::mutex fLock;
  bool fEnabled = true;
  bool fShutDown = false;
  TTraceFlags fFlags = TTraceFlags::All();
  std::unique_ptr<TTraceChannel> fChannel;
  std::unique_ptr<TWriterThread> fWriter;  // declared after the channel it writes to
};

// Owns the process's hook; at process exit it stops the writer thread.
struct THookRegistry {
  std::mutex lock;
  std::shared_ptr<TIBSQLMonitorHook> hook;
  bool shutDown = false;

  ~THookRegistry() { Shutdown(); }

  void Shutdown() {
    std::shared_ptr<TIBSQLMonitorHook> last;
    {
      std::lock_guard guard(lock);
      shutDown = true;
      last = hook;
    }
    if (last) last->Shutdown();
  }
};

THookRegistry& Registry() {
  static THookRegistry registry;
  return registry;
}

}  // namespace

std::shared_ptr<IIBSQLMonitorHook> AcquireTraceHook() {
  THookRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  if (registry.shutDown) return nullptr;
  if (!registry.hook) registry.hook = std::make_shared<TIBSQLMonitorHook>();
  return registry.hook;
}

void ShutdownTraceHook() { Registry().Shutdown(); }

}  // namespace nemvo
