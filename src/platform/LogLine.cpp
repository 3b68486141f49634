#include "platform/LogLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Environment.h"
#include "platform/StandardStreams.h"

namespace nemvo::platform {

bool StandardErrorIsJournal() {
  // "DEVICE:INODE" of the stream the service manager connected, in decimal.
  const std::string stream = EnvironmentVariable("JOURNAL_STREAM");
  unsigned long long device = 0, inode = 0;
  char rest = 0;
  if (stream.empty() || std::sscanf(stream.c_str(), "%llu:%llu%c", &device, &inode, &rest) != 2) return false;
  struct stat st;
  return fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

void LogLine(const std::string& name, const std::string& text, LogPriority priority) {
  if (StandardErrorIsJournal())
    WriteStandardError("<" + std::to_string(int(priority)) + ">" + text + "\n");
  else
    WriteStandardError(name + "[" + std::to_string(getpid()) + "]: " + text + "\n");
}

}  // namespace nemvo::platform
