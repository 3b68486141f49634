#pragma once
// The program's own lines about itself (the pool's starts and ends, signals,
// refusals) on standard error, one write each so that the lines of the pool
// and its workers never mix.
//
// Where standard error is the systemd journal (its JOURNAL_STREAM names the
// very stream standard error is), the journal adds the name and the process
// id by itself: a line is then "<N>text", N its syslog priority (the
// sd-daemon prefix the journal reads), instead of "name[pid]: text".
#include <string>

namespace nemvo::platform {

// Syslog's numbers.
enum class LogPriority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

void LogLine(const std::string& name, const std::string& text, LogPriority priority = LogPriority::kInfo);

// Whether standard error is the journal's stream now (looked at anew each
// time: a log file may have been put in its place).
bool StandardErrorIsJournal();

}  // namespace nemvo::platform
