#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/CaseFolding.h"

namespace nemvo::platform {

namespace {

bool IsProfileBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsProfileBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsProfileBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The whole file, or false when it cannot be read. Only regular files are
// read: a FIFO or a device named by mistake must not block or run forever.
bool ReadWholeFile(const std::string& fileName, std::string& contents) {
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    contents.clear();
    contents.reserve(size_t(st.st_size));
    char chunk[8192];
    for (;;) {
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n > 0) {
        contents.append(chunk, size_t(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        ok = false;
        break;
      }
    }
  }
  ::close(fd);
  return ok;
}

std::string Cut(std::string_view value, size_t bufferSize) {
  size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  return std::string(value.substr(0, limit));
}

}  // namespace

std::string ReadProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                              const std::string& fileName, size_t bufferSize) {
  std::string contents;
  if (!ReadWholeFile(fileName, contents)) return Cut(defaultValue, bufferSize);

  const std::string_view wantedSection = Trim(section);
  const std::string_view wantedKey = Trim(key);
  std::string_view rest(contents);
  // Files saved by some editors start with a UTF-8 byte order mark; it is not
  // part of the first line.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);

  bool inSection = false;
  while (!rest.empty()) {
    size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    if (end == std::string_view::npos) {
      rest = {};
    } else {
      rest.remove_prefix(end + (rest.compare(end, 2, "\r\n") == 0 ? 2 : 1));
    }

    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        // The first matching section wins: a later header ends the search.
        if (inSection) break;
        inSection = AnsiSameText(Trim(line.substr(1, close - 1)), wantedSection);
        continue;
      }
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !AnsiSameText(Trim(line.substr(0, eq)), wantedKey)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return Cut(value, bufferSize);
  }
  return Cut(defaultValue, bufferSize);
}

void FlushProfileFile(const std::string&) {}

}  // namespace nemvo::platform
