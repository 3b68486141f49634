#include "base/Format.h"

namespace nemvo::detail {

std::string FormatImpl(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    size_t j = i + 1;
    if (format[j] == '%') {
      out += '%';
      i = j;
      continue;
    }
    size_t index = next;
    bool explicitIndex = false;
    size_t k = j;
    size_t n = 0;
    while (k < format.size() && format[k] >= '0' && format[k] <= '9') n = n * 10 + size_t(format[k++] - '0');
    if (k > j && k < format.size() && format[k] == ':') {
      index = n;
      explicitIndex = true;
      j = k + 1;
    }
    if (j < format.size() && (format[j] == 's' || format[j] == 'd')) {
      if (index < args.size()) out += args[index];
      if (!explicitIndex) ++next;
      else next = index + 1;
      i = j;
      continue;
    }
    out += c;  // not a placeholder we know: keep it literally
  }
  return out;
}

}  // namespace nemvo::detail
