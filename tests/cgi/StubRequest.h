#pragma once
// A request whose fields are given directly and whose writes are recorded
// one by one, for code that only talks to TWebRequest.
#include <charconv>
#include <map>
#include <string>
#include <vector>

#include "cgi/WebRequest.h"

namespace nemvo::testing {

class TStubRequest : public TWebRequest {
 public:
  TStubRequest() = default;
  // A body: the claimed length, what was stored, and bytes still waiting.
  TStubRequest(std::string contentLength, std::string content, std::string waiting = "") : fWaiting(std::move(waiting)) {
    fFields[rfContentLength] = std::move(contentLength);
    fFields[rfContent] = std::move(content);
  }

  void SetField(int index, std::string value) { fFields[index] = std::move(value); }

  std::string GetStringField(int index) override {
    auto it = fFields.find(index);
    return it == fFields.end() ? std::string() : it->second;
  }
  double GetDateField(int) override { return -1; }
  int32_t GetIntegerField(int index) override {
    std::string text = GetStringField(index);
    int32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() ? value : -1;
  }
  int64_t ReadBody(char*, int64_t) override { return 0; }
  std::string ReadBodyText(int64_t count) override {
    ++fReads;
    std::string part = fWaiting.substr(0, size_t(count));
    fWaiting.erase(0, part.size());
    return part;
  }
  std::string TranslateURI(const std::string& uri) override { return uri; }
  int64_t WriteRaw(const char* buffer, int64_t count) override {
    fWrites.emplace_back(buffer, size_t(count));
    return count;
  }
  bool WriteText(const std::string& text) override {
    if (text.empty()) return false;
    fWrites.push_back(text);
    return true;
  }
  bool WriteHeaders(int, const std::string& statusText, const std::string& headers) override {
    return WriteText("Status: " + statusText + "\r\n" + headers);
  }
  std::string GetFieldByName(const std::string&) override { return {}; }

  // Everything written, joined.
  std::string Output() const {
    std::string all;
    for (const auto& w : fWrites) all += w;
    return all;
  }

  std::vector<std::string> fWrites;
  int fReads = 0;

 private:
  std::map<int, std::string> fFields;
  std::string fWaiting;
};

}  // namespace nemvo::testing
