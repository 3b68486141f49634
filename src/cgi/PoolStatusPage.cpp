#include "cgi/PoolStatusPage.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <exception>
#include <variant>
#include <vector>

#include "base/UTCTime.h"
#include "cgi/HTTPFields.h"

namespace nemvo {

namespace {

constexpr std::string_view kTextType = "text/plain; charset=utf-8";
constexpr std::string_view kJSONType = "application/json";
constexpr std::string_view kPrometheusType = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::string_view kPrefix = "nemvoweb_";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
// Text keys are padded to this column; longer ones get one blank.
constexpr size_t kKeyColumn = 34;

// ---- Choosing the form

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// A query part as sent when it is not well encoded: the page is asked for by
// hand, and a stray "%" must not cost the answer.
std::string QueryDecoded(std::string_view part) {
  try {
    return URLDecode(part);
  } catch (const std::exception&) {
    return std::string(part);
  }
}

struct TQueryParameter {
  std::string name, value;
};

std::vector<TQueryParameter> QueryParameters(std::string_view query) {
  std::vector<TQueryParameter> parameters;
  while (!query.empty()) {
    const size_t end = query.find('&');
    const std::string_view part = query.substr(0, end);
    if (!part.empty()) {
      const size_t equals = part.find('=');
      parameters.push_back({QueryDecoded(part.substr(0, equals)),
                            equals == std::string_view::npos ? std::string() : QueryDecoded(part.substr(equals + 1))});
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return parameters;
}

// A q value (RFC 9110: "0" to "1" with at most three decimals) in
// thousandths; -1 when malformed.
int Quality(std::string_view value) {
  if (value.empty() || (value[0] != '0' && value[0] != '1')) return -1;
  int thousandths = (value[0] - '0') * 1000;
  if (value.size() == 1) return thousandths;
  if (value[1] != '.' || value.size() > 5) return -1;
  int scale = 100;
  for (size_t i = 2; i < value.size(); ++i, scale /= 10) {
    if (value[i] < '0' || value[i] > '9') return -1;
    thousandths += (value[i] - '0') * scale;
  }
  return thousandths <= 1000 ? thousandths : -1;
}

// The form one media range of an Accept header asks for, with its q; no
// form for ranges that name none of them.
struct TAcceptedForm {
  bool named = false;
  TStatusFormat format = TStatusFormat::Text;
  int quality = 1000;
};

TAcceptedForm AcceptedForm(std::string_view range) {
  TAcceptedForm accepted;
  size_t semicolon = range.find(';');
  const std::string type = Lowercase(TrimBlanks(range.substr(0, semicolon)));
  std::string version;
  while (semicolon != std::string_view::npos) {
    range.remove_prefix(semicolon + 1);
    semicolon = range.find(';');
    const std::string_view parameter = range.substr(0, semicolon);
    const size_t equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string name = Lowercase(TrimBlanks(parameter.substr(0, equals)));
    std::string_view value = TrimBlanks(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (name == "q") accepted.quality = Quality(value);
    if (name == "version") version = value;
  }
  if (type == "application/json") {
    accepted = {true, TStatusFormat::JSON, accepted.quality};
  } else if (type == "application/openmetrics-text" || (type == "text/plain" && version == "0.0.4")) {
    accepted = {true, TStatusFormat::Prometheus, accepted.quality};
  } else if (type == "text/plain" || type == "text/*" || type == "*/*") {
    accepted = {true, TStatusFormat::Text, accepted.quality};
  }
  return accepted;
}

TStatusFormat FormatAccepted(std::string_view accept) {
  TAcceptedForm best{false, TStatusFormat::Text, 0};
  while (true) {
    const size_t comma = accept.find(',');
    const TAcceptedForm form = AcceptedForm(accept.substr(0, comma));
    if (form.named && form.quality > best.quality) best = form;
    if (comma == std::string_view::npos) break;
    accept.remove_prefix(comma + 1);
  }
  return best.format;
}

// ---- Writing texts that come from outside

// The length of the well-formed UTF-8 sequence that starts at `at`; 0 when
// the byte there starts none (a stray continuation byte, an overlong form, a
// surrogate, a code point beyond U+10FFFF, a sequence cut short).
size_t UTF8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3, low = 0xA0;
  } else if (lead == 0xED) {
    length = 3, high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4, low = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else if (lead == 0xF4) {
    length = 4, high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return length;
}

// The control characters of UTF-8 text: C0, DEL and C1 (U+0080 to U+009F,
// which some terminals obey as well).
bool IsControl(std::string_view text, size_t at, size_t length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (length == 1) return lead < 0x20 || lead == 0x7F;
  return length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
}

void AppendHexByte(std::string& out, unsigned char byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

// For a person's terminal: one line however hostile the text, and every
// byte that is not printable UTF-8 shown, not obeyed.
void AppendTextSafe(std::string& out, std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = UTF8SequenceLength(text, at);
    if (length == 0 || text[at] == '\\' || IsControl(text, at, length)) {
      const size_t end = length == 0 ? at + 1 : at + length;
      for (; at < end; ++at) {
        out += "\\x";
        AppendHexByte(out, static_cast<unsigned char>(text[at]));
      }
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
}

void AppendJSONString(std::string& out, std::string_view text) {
  out += '"';
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    const size_t length = UTF8SequenceLength(text, at);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
      ++at;
    } else if (length == 0 || c < 0x20) {
      // A byte that is not UTF-8 is read as Latin-1: the same byte value
      // as a code point.
      out += "\\u00";
      AppendHexByte(out, c);
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  out += '"';
}

// A label value as the exposition format escapes it; what it cannot carry
// (bytes that are not UTF-8, other control characters) becomes U+FFFD.
void AppendLabelValue(std::string& out, std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = UTF8SequenceLength(text, at);
    if (text[at] == '\\' || text[at] == '"') {
      out += '\\';
      out += text[at++];
    } else if (text[at] == '\n') {
      out += "\\n";
      ++at;
    } else if (length == 0 || IsControl(text, at, length)) {
      out += kReplacementCharacter;
      at += length == 0 ? 1 : length;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
}

// ---- Numbers

template <typename Integer>
void AppendInteger(std::string& out, Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// Finite values only, six decimals (a microsecond).
void AppendSeconds(std::string& out, double seconds) {
  char buffer[400];  // the largest double in fixed notation fits
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 6);
  out.append(buffer, result.ptr);
}

// A bucket's bound as short as it reads back exactly: "0.005", "1", "2.5".
std::string BoundText(double bound) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, bound);
  return std::string(buffer, result.ptr);
}

// Cumulative counts per bucket, +Inf last, as histograms are read.
std::vector<uint64_t> CumulativeAnswers(const TPoolSnapshot& snapshot) {
  std::vector<uint64_t> cumulative;
  uint64_t sum = 0;
  for (const uint64_t count : snapshot.answerCounts) cumulative.push_back(sum += count);
  return cumulative;
}

// ---- The pool's figures, in the order text and JSON show them

struct TUnknown {};
struct TSeconds {
  double value;
};
struct TEpochTime {
  int64_t seconds;
};
using TValue = std::variant<TUnknown, int64_t, uint64_t, TSeconds, TEpochTime, std::string_view>;

struct TField {
  std::string_view key;  // as text shows it; JSON has "_" for the blanks
  TValue value;
};

std::vector<TField> PoolFields(const TPoolSnapshot& s) {
  return {
      {"address", std::string_view(s.address)},
      {"start time", TEpochTime{s.startTime}},
      {"uptime seconds", TSeconds{s.uptimeSeconds}},
      {"listen queue", s.listenQueue >= 0 ? TValue(s.listenQueue) : TValue(TUnknown{})},
      {"listen backlog", int64_t(s.listenBacklog)},
      {"busy workers", int64_t(s.busyWorkers)},
      {"idle workers", int64_t(s.idleWorkers)},
      {"total workers", int64_t(s.totalWorkers)},
      {"min workers", int64_t(s.minWorkers)},
      {"max workers", int64_t(s.maxWorkers)},
      {"workers started", s.workersStarted},
      {"workers replaced", s.workersReplaced},
      {"workers recycled", s.workersRecycled},
      {"requests", s.requests},
      {"requests refused", s.requestsRefused},
      {"requests timed out", s.requestsTimedOut},
      {"slow requests", s.slowRequests},
      {"longest request seconds", TSeconds{s.longestRequestSeconds}},
      {"longest request path", std::string_view(s.longestRequestPath)},
  };
}

std::vector<TField> WorkerFields(const TWorkerSnapshot& w) {
  return {
      {"pid", int64_t(w.pid)},
      {"state", std::string_view(w.busy ? "busy" : "idle")},
      {"phase", std::string_view(w.phase)},
      {"requests", w.requests},
      {"request seconds", TSeconds{w.requestSeconds}},
      {"path", std::string_view(w.path)},
  };
}

// ---- Text

void AppendTextLine(std::string& out, std::string_view key, const TValue& value) {
  out += key;
  out += ':';
  const size_t keyEnd = out.size();
  out.append(key.size() + 1 < kKeyColumn ? kKeyColumn - key.size() - 1 : 1, ' ');
  const size_t valueStart = out.size();
  struct {
    std::string& out;
    void operator()(TUnknown) { out += "unknown"; }
    void operator()(int64_t v) { AppendInteger(out, v); }
    void operator()(uint64_t v) { AppendInteger(out, v); }
    void operator()(TSeconds v) {
      if (std::isfinite(v.value)) AppendSeconds(out, v.value);
      else out += "unknown";
    }
    void operator()(TEpochTime v) { out += UTCTimeText(v.seconds); }
    void operator()(std::string_view v) { AppendTextSafe(out, v); }
  } write{out};
  std::visit(write, value);
  if (out.size() == valueStart) out.resize(keyEnd);  // no blanks at the end of a line
  out += '\n';
}

std::string RenderText(const TPoolSnapshot& snapshot, bool full) {
  std::string out;
  for (const TField& field : PoolFields(snapshot)) AppendTextLine(out, field.key, field.value);
  for (size_t i = 0; i < snapshot.logins.size(); ++i)
    AppendTextLine(out, std::string("logins ") + TPoolSnapshot::kLoginOutcomes[i], snapshot.logins[i]);
  const std::vector<uint64_t> cumulative = CumulativeAnswers(snapshot);
  AppendTextLine(out, "login database answers", cumulative.back());
  AppendTextLine(out, "login database seconds", TSeconds{snapshot.answerSecondsSum});
  for (size_t i = 0; i < cumulative.size(); ++i) {
    const std::string bound = i < TPoolSnapshot::kAnswerBuckets.size() ? BoundText(TPoolSnapshot::kAnswerBuckets[i]) : "+Inf";
    AppendTextLine(out, "login database answers le " + bound, cumulative[i]);
  }
  if (full) {
    for (const TWorkerSnapshot& worker : snapshot.workers) {
      out += "\n************************\n";
      for (const TField& field : WorkerFields(worker)) AppendTextLine(out, field.key, field.value);
    }
  }
  return out;
}

// ---- JSON

void AppendJSONKey(std::string& out, std::string_view key) {
  out += '"';
  for (const char c : key) out += c == ' ' ? '_' : c;
  out += "\":";
}

void AppendJSONValue(std::string& out, const TValue& value) {
  struct {
    std::string& out;
    void operator()(TUnknown) { out += "null"; }
    void operator()(int64_t v) { AppendInteger(out, v); }
    void operator()(uint64_t v) { AppendInteger(out, v); }
    void operator()(TSeconds v) {
      if (std::isfinite(v.value)) AppendSeconds(out, v.value);
      else out += "null";
    }
    void operator()(TEpochTime v) { AppendInteger(out, v.seconds); }
    void operator()(std::string_view v) { AppendJSONString(out, v); }
  } write{out};
  std::visit(write, value);
}

void AppendJSONFields(std::string& out, const std::vector<TField>& fields) {
  for (const TField& field : fields) {
    if (out.back() != '{') out += ',';
    AppendJSONKey(out, field.key);
    AppendJSONValue(out, field.value);
  }
}

std::string RenderJSON(const TPoolSnapshot& snapshot, bool full) {
  std::string out = "{";
  AppendJSONFields(out, PoolFields(snapshot));
  out += ",\"logins\":{";
  for (size_t i = 0; i < snapshot.logins.size(); ++i) {
    if (i > 0) out += ',';
    AppendJSONKey(out, TPoolSnapshot::kLoginOutcomes[i]);
    AppendInteger(out, snapshot.logins[i]);
  }
  const std::vector<uint64_t> cumulative = CumulativeAnswers(snapshot);
  out += "},\"login_database_seconds\":{\"count\":";
  AppendInteger(out, cumulative.back());
  out += ",\"sum\":";
  AppendJSONValue(out, TSeconds{snapshot.answerSecondsSum});
  out += ",\"buckets\":{";
  for (size_t i = 0; i < cumulative.size(); ++i) {
    if (i > 0) out += ',';
    AppendJSONKey(out, i < TPoolSnapshot::kAnswerBuckets.size() ? BoundText(TPoolSnapshot::kAnswerBuckets[i]) : "+Inf");
    AppendInteger(out, cumulative[i]);
  }
  out += "}}";
  if (full) {
    out += ",\"workers\":[";
    for (const TWorkerSnapshot& worker : snapshot.workers) {
      if (out.back() != '[') out += ',';
      out += '{';
      AppendJSONFields(out, WorkerFields(worker));
      out += '}';
    }
    out += ']';
  }
  out += "}\n";
  return out;
}

// ---- Prometheus

void AppendFamily(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out += "# HELP ";
  out += kPrefix;
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += kPrefix;
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

// A sample's name and labels ("" for none, else `{a="b"}` already escaped)
// up to the blank before its value.
void AppendSampleName(std::string& out, std::string_view name, std::string_view labels = {}) {
  out += kPrefix;
  out += name;
  out += labels;
  out += ' ';
}

template <typename Integer>
void AppendIntegerSample(std::string& out, std::string_view name, Integer value, std::string_view labels = {}) {
  AppendSampleName(out, name, labels);
  AppendInteger(out, value);
  out += '\n';
}

void AppendSecondsSample(std::string& out, std::string_view name, double seconds) {
  AppendSampleName(out, name);
  if (std::isnan(seconds)) out += "NaN";
  else if (std::isinf(seconds)) out += seconds > 0 ? "+Inf" : "-Inf";
  else AppendSeconds(out, seconds);
  out += '\n';
}

std::string Label(std::string_view name, std::string_view value) {
  std::string label = "{";
  label += name;
  label += "=\"";
  AppendLabelValue(label, value);
  label += "\"}";
  return label;
}

std::string RenderPrometheus(const TPoolSnapshot& s) {
  std::string out;
  AppendFamily(out, "pool_info", "gauge", "The FastCGI pool, by the address it listens on as given.");
  AppendIntegerSample(out, "pool_info", 1, Label("address", s.address));
  AppendFamily(out, "start_time_seconds", "gauge", "When the pool started, in seconds since the epoch.");
  AppendIntegerSample(out, "start_time_seconds", s.startTime);
  if (s.listenQueue >= 0) {
    AppendFamily(out, "listen_queue_connections", "gauge", "Connections waiting for a worker to take them.");
    AppendIntegerSample(out, "listen_queue_connections", s.listenQueue);
  }
  AppendFamily(out, "listen_backlog_connections", "gauge",
               "The most connections the listen queue holds, as asked of the kernel.");
  AppendIntegerSample(out, "listen_backlog_connections", s.listenBacklog);
  AppendFamily(out, "workers", "gauge", "Workers running, by whether a request is in hand.");
  AppendIntegerSample(out, "workers", s.busyWorkers, Label("state", "busy"));
  AppendIntegerSample(out, "workers", s.idleWorkers, Label("state", "idle"));
  AppendFamily(out, "workers_min", "gauge", "The fewest workers the pool keeps.");
  AppendIntegerSample(out, "workers_min", s.minWorkers);
  AppendFamily(out, "workers_max", "gauge", "The most workers the pool runs.");
  AppendIntegerSample(out, "workers_max", s.maxWorkers);
  AppendFamily(out, "workers_started_total", "counter", "Workers started, the first ones included.");
  AppendIntegerSample(out, "workers_started_total", s.workersStarted);
  AppendFamily(out, "workers_replaced_total", "counter",
               "Workers that ended otherwise than asked (killed, crashed, timed out) and were replaced.");
  AppendIntegerSample(out, "workers_replaced_total", s.workersReplaced);
  AppendFamily(out, "workers_recycled_total", "counter", "Workers ended after serving their share of requests.");
  AppendIntegerSample(out, "workers_recycled_total", s.workersRecycled);
  AppendFamily(out, "requests_total", "counter", "Requests answered or given up, status and ping included.");
  AppendIntegerSample(out, "requests_total", s.requests);
  AppendFamily(out, "requests_refused_total", "counter", "Requests a worker refused before the request cycle.");
  AppendIntegerSample(out, "requests_refused_total", s.requestsRefused);
  AppendFamily(out, "requests_timed_out_total", "counter", "Requests the pool ended after the request time-out.");
  AppendIntegerSample(out, "requests_timed_out_total", s.requestsTimedOut);
  AppendFamily(out, "slow_requests_total", "counter", "Requests logged as slow.");
  AppendIntegerSample(out, "slow_requests_total", s.slowRequests);
  AppendFamily(out, "longest_request_seconds", "gauge", "How long the oldest request in hand has run; 0 when none.");
  AppendSecondsSample(out, "longest_request_seconds", s.longestRequestSeconds);
  AppendFamily(out, "logins_total", "counter", "Logins, by outcome.");
  for (size_t i = 0; i < s.logins.size(); ++i)
    AppendIntegerSample(out, "logins_total", s.logins[i], Label("outcome", TPoolSnapshot::kLoginOutcomes[i]));

  const std::vector<uint64_t> cumulative = CumulativeAnswers(s);
  AppendFamily(out, "login_database_seconds", "histogram", "How long the database server took to answer a login.");
  for (size_t i = 0; i < cumulative.size(); ++i) {
    const std::string bound = i < TPoolSnapshot::kAnswerBuckets.size() ? BoundText(TPoolSnapshot::kAnswerBuckets[i]) : "+Inf";
    AppendIntegerSample(out, "login_database_seconds_bucket", cumulative[i], Label("le", bound));
  }
  AppendSecondsSample(out, "login_database_seconds_sum", s.answerSecondsSum);
  AppendIntegerSample(out, "login_database_seconds_count", cumulative.back());
  return out;
}

}  // namespace

TStatusFormat ChooseStatusFormat(std::string_view queryString, std::string_view accept) {
  for (const TQueryParameter& parameter : QueryParameters(queryString)) {
    if (parameter.name != "format") continue;
    const std::string value = Lowercase(parameter.value);
    if (value == "json") return TStatusFormat::JSON;
    if (value == "prometheus") return TStatusFormat::Prometheus;
    return TStatusFormat::Text;
  }
  return FormatAccepted(accept);
}

bool WantsFullStatus(std::string_view queryString) {
  for (const TQueryParameter& parameter : QueryParameters(queryString))
    if (parameter.name == "full") return parameter.value != "0";
  return false;
}

TStatusPage RenderPoolStatus(const TPoolSnapshot& snapshot, TStatusFormat format, bool full) {
  switch (format) {
    case TStatusFormat::JSON:
      return {std::string(kJSONType), RenderJSON(snapshot, full)};
    case TStatusFormat::Prometheus:
      return {std::string(kPrometheusType), RenderPrometheus(snapshot)};
    case TStatusFormat::Text:
      break;
  }
  return {std::string(kTextType), RenderText(snapshot, full)};
}

}  // namespace nemvo
