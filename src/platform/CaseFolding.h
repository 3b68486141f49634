#pragma once
// Case folding by the process's regional settings. The program's texts are
// ISO-8859-1 / Windows-1252 bytes; every letter folds with its other-case
// partner (é with É, ÿ with Ÿ), whatever the C library's locale says.
#include <string>
#include <string_view>

namespace nemvo::platform {

unsigned char AnsiLowerChar(unsigned char c);
unsigned char AnsiUpperChar(unsigned char c);
std::string AnsiLowerCase(std::string_view text);
std::string AnsiUpperCase(std::string_view text);
// <0, 0, >0 comparing the folded texts byte by byte.
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace nemvo::platform
