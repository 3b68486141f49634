#pragma once
// Fills message templates. The template always comes from our own code; text
// from outside (a request, a file, the database) only ever arrives as an
// argument, so it can never be read as a directive. Arguments are byte
// strings and may hold any byte, NUL included.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace nemvo {

namespace detail {
std::string FormatImpl(std::string_view format, const std::vector<std::string>& args);

inline std::string FormatArg(std::string_view s) { return std::string(s); }
inline std::string FormatArg(const std::string& s) { return s; }
inline std::string FormatArg(const char* s) { return s ? std::string(s) : std::string(); }
template <class T>
  requires std::is_integral_v<T>
std::string FormatArg(T v) {
  return std::to_string(v);
}
}  // namespace detail

// Placeholders: "%s" and "%d" take the next argument as it stands (numbers in
// decimal), "%N:s" takes argument N (counting from 0), "%%" is one "%".
// A placeholder without an argument becomes empty text.
template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
  return detail::FormatImpl(format, std::vector<std::string>{detail::FormatArg(args)...});
}

}  // namespace nemvo
