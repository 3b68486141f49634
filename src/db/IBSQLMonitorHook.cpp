#include "db/IBSQLMonitorHook.h"

#include <unistd.h>

#include <mutex>
#include <optional>

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

// One line on standard error (the web server's error log, the pool's log),
// written whole at once.
void ReportOnStandardError(const std::string& text) {
  const std::string line = platform::ExecutableFileName() + ": " + text + "\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
}

class TIBSQLMonitorHook final : public IIBSQLMonitorHook {
 public:
  explicit TIBSQLMonitorHook(const TTraceAccess& access) : fAccess(access) {}

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

  // Where the channel's access changes; the writer's thread reopens it.
  void SetAccess(const TTraceAccess& access) {
    std::lock_guard guard(fLock);
    if (access == fAccess) return;
    fAccess = access;
    if (fWriter) fWriter->SetAccess(access);
  }

 private:
  bool Traces(TTraceFlag flag) const {
    std::lock_guard guard(fLock);
    return fEnabled && fAccess.enabled && fFlags.Contains(flag);
  }

  // On the caller's thread (a request's): no more than a queued copy. The
  // writer's thread opens the channel, looks for readers and waits for them.
  void WriteSQLData(std::string text, TTraceFlag flag) {
    std::lock_guard guard(fLock);
    if (fShutDown || !fEnabled || !fAccess.enabled) return;
    if (!fWriter)
      fWriter = std::make_unique<TWriterThread>(TTraceChannel::DefaultName(), fAccess, ApplicationTitle(),
                                                ReportOnStandardError);
    fWriter->WriteSQLData(std::move(text), flag);
  }

  mutable std::mutex fLock;
  bool fEnabled = true;
  bool fShutDown = false;
  TTraceFlags fFlags = TTraceFlags::All();
  TTraceAccess fAccess;
  std::unique_ptr<TWriterThread> fWriter;
};

// Owns the process's hook; at process exit it stops the writer thread.
struct THookRegistry {
  std::mutex lock;
  std::shared_ptr<TIBSQLMonitorHook> hook;
  std::optional<TTraceAccess> access;  // until set: the channel's default
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
  if (!registry.hook)
    registry.hook = std::make_shared<TIBSQLMonitorHook>(registry.access ? *registry.access
                                                                        : TTraceChannel::DefaultAccess());
  return registry.hook;
}

void SetTraceAccess(const TTraceAccess& access) {
  THookRegistry& registry = Registry();
  std::shared_ptr<TIBSQLMonitorHook> hook;
  {
    std::lock_guard guard(registry.lock);
    if (registry.access == access) return;
    registry.access = access;
    hook = registry.hook;
  }
  if (hook) hook->SetAccess(access);
}

void ShutdownTraceHook() { Registry().Shutdown(); }

}  // namespace nemvo
