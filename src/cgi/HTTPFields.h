#pragma once
// Decoding of URL-encoded form texts and the name=value lists built from
// them: the request's form fields and the parameters of template tags.
// Texts are bytes; a decoded "%E9" is the byte 0xE9 whatever it means.
#include <bitset>
#include <string>
#include <string_view>

#include "base/StringList.h"

namespace nemvo {

// A set of byte values.
using TCharSet = std::bitset<256>;

// The set holding exactly the bytes of `chars`.
TCharSet CharSet(std::string_view chars);

// "+" gives a blank, "%%" one "%", "%XY" the byte 0xXY. Raises EWebException
// when a "%" is not followed by two characters, EConvertError when they are
// not hexadecimal digits.
std::string URLDecode(std::string_view text);

// Cuts `text` into fields at the bytes of `separators` (plus NUL, CR, LF and
// the double quote), skipping `whiteSpace` (plus CR and LF) before each field,
// and appends each field to `list`: first unquoted when `stripQuotes`, then
// URL-decoded when `decode`. Separators inside a double-quoted run do not
// split. A decoding error ends the splitting; the lines already appended stay.
void SplitHeaderFields(const TCharSet& separators, const TCharSet& whiteSpace, std::string_view text,
                       TStringList& list, bool decode, bool stripQuotes);

// SplitHeaderFields with decoding on.
void SplitHTTPFields(const TCharSet& separators, const TCharSet& whiteSpace, std::string_view text,
                     TStringList& list, bool stripQuotes);

// The value after the first "=" of the first line whose name equals `name`
// (case folded by the regional settings), or empty. Lines without "=" are
// passed over; names are not trimmed.
std::string ValueOf(const TStringList& list, std::string_view name);
// The same value without a copy: a view into the list's line, valid until
// the list changes.
std::string_view ValueViewOf(const TStringList& list, std::string_view name);

}  // namespace nemvo
