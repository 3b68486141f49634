#include "cgi/HTTPDate.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "base/Exception.h"

namespace nemvo {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int64_t kMSecsPerDay = 86400000;
// Day numbers of 1 January 0001 and 31 December 9999.
constexpr int64_t kMinDay = -693593;
constexpr int64_t kMaxDay = 2958465;

// Days since 1 January 1970 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(yoe + era * 400 + (month <= 2));
}

constexpr int64_t kUnixEpochDay = 25569;  // 1 January 1970

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// A small reader over the date text.
struct Reader {
  std::string_view s;
  size_t i = 0;
  bool Literal(std::string_view lit) {
    if (s.substr(i, lit.size()) != lit) return false;
    i += lit.size();
    return true;
  }
  void Blanks() {
    while (i < s.size() && s[i] == ' ') ++i;
  }
  bool Number(int minDigits, int maxDigits, int& out) {
    int n = 0, v = 0;
    while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0'), ++n;
    out = v;
    return n >= minDigits;
  }
  bool Month(int& out) {
    for (int m = 0; m < 12; ++m)
      if (Literal(kMonthNames[m])) return out = m + 1, true;
    return false;
  }
  bool Word() {  // a day name, which the date itself decides anyway
    size_t start = i;
    while (i < s.size() && ((s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= 'a' && s[i] <= 'z'))) ++i;
    return i > start;
  }
  bool Time(int& h, int& mi, int& sec) {
    return Number(2, 2, h) && Literal(":") && Number(2, 2, mi) && Literal(":") && Number(2, 2, sec);
  }
  bool AtEnd() {
    Blanks();
    return i == s.size();
  }
};

std::optional<double> Checked(int y, int m, int d, int h, int mi, int s) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m) || h > 23 || mi > 59 || s > 59)
    return std::nullopt;
  return EncodeDateTime(y, m, d, h, mi, s);
}

}  // namespace

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const double date = double(DaysFromCivil(year, month, day) + kUnixEpochDay);
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the base day the fraction still counts forward from midnight.
  return date >= 0 ? date + time : date - time;
}

std::string HTTPDateText(double dateTime) {
  if (!std::isfinite(dateTime) || dateTime < double(kMinDay) || dateTime >= double(kMaxDay + 1))
    throw EConvertError("Invalid date-time value");
  int64_t day = int64_t(dateTime);  // toward zero; the fraction counts from midnight either way
  int64_t msecs = std::llround(std::fabs(dateTime - double(day)) * double(kMSecsPerDay));
  if (msecs >= kMSecsPerDay) {
    msecs -= kMSecsPerDay;
    ++day;
  }
  int year, month, mday;
  CivilFromDays(day - kUnixEpochDay, year, month, mday);
  const int weekday = int(((day + 6) % 7 + 7) % 7);  // day 0 was a Saturday
  const int64_t secs = msecs / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDayNames[weekday], mday,
                kMonthNames[month - 1], year, int(secs / 3600), int(secs / 60 % 60), int(secs % 60));
  std::string out = text;
  return out;
}

std::optional<double> ParseHTTPDate(std::string_view text) {
  int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
  {  // Sun, 06 Nov 1994 08:49:37 GMT
    Reader r{text};
    r.Blanks();
    if (r.Word() && r.Literal(", ") && r.Number(1, 2, d) && r.Literal(" ") && r.Month(m) && r.Literal(" ") &&
        r.Number(4, 4, y) && r.Literal(" ") && r.Time(h, mi, s) && r.Literal(" GMT") && r.AtEnd())
      return Checked(y, m, d, h, mi, s);
  }
  {  // Sunday, 06-Nov-94 08:49:37 GMT
    Reader r{text};
    r.Blanks();
    if (r.Word() && r.Literal(", ") && r.Number(2, 2, d) && r.Literal("-") && r.Month(m) && r.Literal("-") &&
        r.Number(2, 2, y) && r.Literal(" ") && r.Time(h, mi, s) && r.Literal(" GMT") && r.AtEnd())
      return Checked(y < 70 ? 2000 + y : 1900 + y, m, d, h, mi, s);
  }
  {  // Sun Nov  6 08:49:37 1994
    Reader r{text};
    r.Blanks();
    if (r.Word() && r.Literal(" ") && r.Month(m) && r.Literal(" ")) {
      r.Blanks();
      if (r.Number(1, 2, d) && r.Literal(" ") && r.Time(h, mi, s) && r.Literal(" ") && r.Number(4, 4, y) &&
          r.AtEnd())
        return Checked(y, m, d, h, mi, s);
    }
  }
  return std::nullopt;
}

}  // namespace nemvo
