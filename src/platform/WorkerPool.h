#pragma once
// A pool of worker processes: the supervising process starts them, replaces
// one that ends (at once when it ended normally, after a pause when it died
// right after its start, so that a worker that cannot run does not make the
// pool spin) and, asked to end (SIGTERM, SIGINT), lets them finish the
// requests they are answering, for at most a bounded time. What it does is
// logged on standard error.
#include <chrono>
#include <functional>
#include <string>

namespace nemvo::platform {

struct WorkerPoolOptions {
  int workers = 1;
  // How long workers may take to finish once asked to end; then they are killed.
  std::chrono::milliseconds shutdownTimeout{30000};
  // Names the program in the log.
  std::string name = "nemvoweb";
};

// Runs `worker` in `options.workers` child processes until asked to end; in
// each, what `worker` returns is the process's exit status. A worker ends
// too when the supervising process goes. Call it before anything starts a
// thread or loads a library that holds state across fork. Returns the
// supervising process's exit status.
int RunWorkerPool(const WorkerPoolOptions& options, const std::function<int()>& worker);

// One line on standard error: "<name>[<pid>]: <text>".
void LogLine(const std::string& name, const std::string& text);

}  // namespace nemvo::platform
