#pragma once
// A request with the method, path info and query a test gives it, whose
// writes are recorded (see cgi/StubRequest.h); answered through a real
// TCGIResponse.
#include <string>

#include "cgi/StubRequest.h"

namespace nemvo::testing {

class TTestRequest : public TStubRequest {
 public:
  TTestRequest(std::string method, std::string pathInfo, std::string query = "") {
    fMethodType = method == "GET" ? mtGet : method == "PUT" ? mtPut : method == "POST" ? mtPost
                : method == "HEAD" ? mtHead : mtAny;
    SetField(rfMethod, std::move(method));
    SetField(rfPathInfo, std::move(pathInfo));
    SetField(rfQuery, std::move(query));
    SetField(rfProtocolVersion, "HTTP/1.1");
  }
};

}  // namespace nemvo::testing
