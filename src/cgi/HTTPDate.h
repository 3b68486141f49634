#pragma once
// Date-time values as the response and the request carry them: days since
// 30 December 1899 as a double, the fraction giving the time of day; -1
// stands for "not set". The texts are the English HTTP date form; no time
// zone conversion is made.
#include <optional>
#include <string>
#include <string_view>

namespace nemvo {

// The value of a calendar date and time of day.
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// "Sun, 06 Nov 1994 08:49:37 GMT". Raises EConvertError for a value outside
// the years 1 to 9999 (or not a number).
std::string HTTPDateText(double dateTime);

// Reads the three date forms HTTP allows ("Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"); nothing
// when the text is none of them.
std::optional<double> ParseHTTPDate(std::string_view text);

}  // namespace nemvo
