#pragma once
// Cookies of a response.
#include <memory>
#include <string>
#include <vector>

namespace nemvo {

class TWebResponse;

struct TCookie {
  std::string Name, Value, Path, Domain;
  double Expires = -1;  // date-time; -1 when not set
  bool Secure = false;
  void Assign(const TCookie& other) { *this = other; }
  // The text of its "Set-Cookie" header: 'a+b=1; path=/'.
  std::string HeaderValue() const;
};

class TCookieCollection {
 public:
  explicit TCookieCollection(TWebResponse& response) : fResponse(response) {}
  TCookie& Add() { return *fItems.emplace_back(std::make_unique<TCookie>()); }
  int Count() const { return int(fItems.size()); }
  TCookie& Items(int index) { return *fItems.at(size_t(index)); }
  const TCookie& Items(int index) const { return *fItems.at(size_t(index)); }
  TWebResponse& Response() const { return fResponse; }

 private:
  TWebResponse& fResponse;  // not owned: the response owns this collection
  std::vector<std::unique_ptr<TCookie>> fItems;
};

}  // namespace nemvo
