#pragma once
// The FastCGI pool's status page, in the three forms its readers want: plain
// text for a person with curl, JSON for scripts, and the Prometheus text
// exposition format (0.0.4) for a scraper.
//
// The form is chosen by the query string first, then by the Accept header:
//   - "format=text", "format=json" or "format=prometheus" (any case, the first
//     "format" of the query decides); any other value gives text, so that a
//     mistyped choice still gets a page a person can read;
//   - otherwise the most preferred of the Accept header's media ranges (by
//     their q, the first on a tie) that names a form: "application/json" is
//     JSON; "application/openmetrics-text" and "text/plain; version=0.0.4"
//     are Prometheus (answered as 0.0.4 text, which scrapers asking for
//     OpenMetrics also take); "text/plain", "text/*" and "*/*" are text;
//   - otherwise text.
// "full" in the query (bare, or with any value but "0") adds the list of
// workers to text and JSON. Prometheus never lists them: a worker's pid and
// path would make series of their own, the path's as many as visitors like.
//
// Texts that come from outside (a request's path, the pool's address) can
// break no form: in text, control bytes, backslashes and bytes that are not
// UTF-8 are written as \xNN; in JSON, control bytes and bytes that are not
// UTF-8 as \u00NN (the latter read as Latin-1); in Prometheus only the address
// appears, as a label value escaped by the format's rules, with whatever is not
// printable UTF-8 replaced by U+FFFD.
#include <string>
#include <string_view>

#include "cgi/PoolSnapshot.h"

namespace nemvo {

enum class TStatusFormat { Text, JSON, Prometheus };

TStatusFormat ChooseStatusFormat(std::string_view queryString, std::string_view accept);
bool WantsFullStatus(std::string_view queryString);

struct TStatusPage {
  std::string contentType;
  std::string body;
};

// `full` lists the workers (text and JSON only). Seconds are written with six
// decimals, counts as integers; an unknown listen queue (-1) is "unknown" in
// text, null in JSON and left out of Prometheus.
TStatusPage RenderPoolStatus(const TPoolSnapshot& snapshot, TStatusFormat format, bool full);

}  // namespace nemvo
