#include "cgi/CGIRequest.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <vector>

#include "base/Component.h"
#include "base/Format.h"
#include "cgi/HTTPDate.h"

namespace nemvo {

namespace {

constexpr const char* kFieldVariables[rfFieldCount] = {
    "REQUEST_METHOD",       "SERVER_PROTOCOL",        "URL",
    "QUERY_STRING",         "PATH_INFO",              "PATH_TRANSLATED",
    "HTTP_CACHE_CONTROL",   "HTTP_DATE",              "HTTP_ACCEPT",
    "HTTP_FROM",            "HTTP_HOST",              "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",         "HTTP_USER_AGENT",        "HTTP_CONTENT_ENCODING",
    "HTTP_CONTENT_TYPE",    "HTTP_CONTENT_LENGTH",    "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",    "HTTP_EXPIRES",           "HTTP_TITLE",
    "REMOTE_ADDR",          "REMOTE_HOST",            "SCRIPT_NAME",
    "SERVER_PORT",          "",                       "HTTP_CONNECTION",
    "HTTP_COOKIE",          "HTTP_AUTHORIZATION",
};

// Reads arrive in blocks of this size at most.
constexpr int64_t kReadBlock = 64 * 1024;

TMethodType MethodTypeOf(const std::string& method) {
  if (SameText(method, "GET")) return mtGet;
  if (SameText(method, "PUT")) return mtPut;
  if (SameText(method, "POST")) return mtPost;
  if (SameText(method, "HEAD")) return mtHead;
  return mtAny;
}

}  // namespace

TCGIRequest::TCGIRequest() : TCGIRequest(TProcessRequestSource::Instance()) {}

TCGIRequest::TCGIRequest(TRequestSource& source) : fSource(source) {
  fMethodType = MethodTypeOf(GetStringField(rfMethod));
  fContent = ReadBodyText(GetIntegerField(rfContentLength));
}

const char* TCGIRequest::FieldVariable(int index) {
  if (index < 0 || index >= rfFieldCount) return "";
  return kFieldVariables[index];
}

std::string TCGIRequest::GetStringField(int index) {
  if (index == rfContent) return fContent;
  if (index < 0 || index >= rfFieldCount) return {};
  return GetFieldByName(kFieldVariables[index]);
}

double TCGIRequest::GetDateField(int index) {
  std::string text = GetStringField(index);
  if (text.empty()) return -1;
  return ParseHTTPDate(text).value_or(-1);
}

int32_t TCGIRequest::GetIntegerField(int index) {
  std::string text = GetStringField(index);
  // Blanks around the number are allowed, a "+" sign too; anything else
  // (including a number that does not fit) reads as no number.
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return -1;
  const char* first = text.data() + b;
  const char* last = text.data() + e + 1;
  if (*first == '+' && last - first > 1 && first[1] != '-') ++first;
  int32_t value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) return -1;
  return value;
}

int64_t TCGIRequest::ReadBody(char* buffer, int64_t count) { return fSource.ReadInput(buffer, count); }

std::string TCGIRequest::ReadBodyText(int64_t count) {
  std::string text;
  if (count <= 0) return text;
  // Growing the text as bytes arrive would copy it over and over, each time
  // holding the old and the new copy at once. Once a whole block has come,
  // the text is reserved at the claimed size: a reservation only maps pages,
  // and those that no byte reaches stay untouched. A claim that cannot even
  // be reserved leaves the text to grow after all.
  text.reserve(size_t(std::min<int64_t>(count, kReadBlock)));
  bool reserved = count <= kReadBlock;
  std::vector<char> block(size_t(std::min<int64_t>(count, kReadBlock)));
  while (int64_t(text.size()) < count) {
    if (!reserved && int64_t(text.size()) >= kReadBlock) {
      reserved = true;
      try {
        text.reserve(size_t(count));
      } catch (const std::bad_alloc&) {
      }
    }
    const int64_t want = std::min<int64_t>(count - int64_t(text.size()), int64_t(block.size()));
    const int64_t n = ReadBody(block.data(), want);
    if (n <= 0) break;  // end of input, or a read error: keep what arrived
    text.append(block.data(), size_t(n));
  }
  return text;
}

std::string TCGIRequest::TranslateURI(const std::string& uri) {
  std::string translated = GetStringField(rfPathTranslated);
  if (translated.empty()) return uri;
  std::string pathInfo = GetStringField(rfPathInfo);
  if (translated.size() >= pathInfo.size() &&
      translated.compare(translated.size() - pathInfo.size(), pathInfo.size(), pathInfo) == 0)
    return translated.substr(0, translated.size() - pathInfo.size()) + uri;
  return uri;
}

int64_t TCGIRequest::WriteRaw(const char* buffer, int64_t count) {
  return fSource.WriteOutput(buffer, count);
}

bool TCGIRequest::WriteText(const std::string& text) {
  if (text.empty()) return false;
  return WriteRaw(text.data(), int64_t(text.size())) == int64_t(text.size());
}

bool TCGIRequest::WriteHeaders(int /*statusCode: the status text carries it*/, const std::string& statusText,
                               const std::string& headers) {
  return WriteText(Format("Status: %s\r\n%s", statusText, headers));
}

std::string TCGIRequest::GetFieldByName(const std::string& name) {
  std::string value = fSource.Variable(name);
  if (!value.empty()) return value;
  if (name.starts_with("HTTP_")) return fSource.Variable(name.substr(5));
  return fSource.Variable("HTTP_" + name);
}

}  // namespace nemvo
