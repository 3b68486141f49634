#pragma once
// Runs code in this process as if it were the CGI program: the environment
// holds only the given variables, standard input holds the given bytes, and
// what goes to standard output is kept. Everything is put back afterwards.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/OutputCapture.h"

extern char** environ;

namespace nemvo::testing {

class CGIEnvironment {
 public:
  using Vars = std::vector<std::pair<std::string, std::string>>;

  CGIEnvironment(const Vars& vars, const std::string& input) {
    for (char** e = environ; e && *e; ++e) fSavedEnv.emplace_back(*e);
    clearenv();
    for (const auto& [name, value] : vars) setenv(name.c_str(), value.c_str(), 1);

    fSavedIn = dup(STDIN_FILENO);
    fIn = memfd_create("stdin", 0);
    if (!input.empty() && write(fIn, input.data(), input.size()) != ssize_t(input.size())) std::abort();
    lseek(fIn, 0, SEEK_SET);
    dup2(fIn, STDIN_FILENO);
    fOut = std::make_unique<OutputCapture>(STDOUT_FILENO);
  }

  // Standard input that fails every read.
  static CGIEnvironment WithBrokenInput(const Vars& vars) {
    CGIEnvironment env(vars, "");
    int bad = open("/dev/null", O_WRONLY);
    dup2(bad, STDIN_FILENO);
    close(bad);
    return env;
  }

  CGIEnvironment(CGIEnvironment&& other) noexcept
      : fSavedEnv(std::move(other.fSavedEnv)),
        fSavedIn(std::exchange(other.fSavedIn, -1)),
        fIn(std::exchange(other.fIn, -1)),
        fOut(std::move(other.fOut)),
        fRestored(std::exchange(other.fRestored, true)) {}

  ~CGIEnvironment() {
    Restore();
    if (fIn >= 0) close(fIn);
  }

  // How far the program read standard input.
  off_t InputConsumed() const { return lseek(fIn, 0, SEEK_CUR); }

  // Puts everything back and returns what was written to standard output.
  std::string Output() {
    Restore();
    return fOut->Text();
  }

 private:
  void Restore() {
    if (fRestored) return;
    fRestored = true;
    dup2(fSavedIn, STDIN_FILENO);
    close(fSavedIn);
    if (fOut) fOut->Text();
    clearenv();
    for (const auto& e : fSavedEnv) {
      auto eq = e.find('=');
      if (eq != std::string::npos) setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
  }

  std::vector<std::string> fSavedEnv;
  int fSavedIn = -1, fIn = -1;
  std::unique_ptr<OutputCapture> fOut;
  bool fRestored = false;
};

}  // namespace nemvo::testing
