// The test module through the request cycle: the application creates it
// from its stored definition, finds it as the dispatcher, sends what it
// answers and turns its exceptions into its error page. In-process here;
// WebTestProgram_test.cpp does the same from outside.
#include <gtest/gtest.h>

#include "base/ClassRegistry.h"
#include "base/Exception.h"
#include "cgi/CGIApplication.h"
#include "cgi/CGIResponse.h"
#include "web/TestRequest.h"
#include "web/TestWebModule.h"

namespace nemvo {
namespace {

using testing::TTestRequest;
using testing::TTestWebModule;

std::string Answer(const std::string& body) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent:\r\n\r\n" + body;
}

std::string ErrorAnswer(const std::string& message, const std::string& path) {
  const std::string body = "<html><body><h1>Internal Application Error</h1>\r\n<p>" + message +
                           "\r\n<p><hr width=\"100%\"><i>" + path + "</i></body></html>";
  return "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

struct Case {
  std::string method, path, query;
  bool handled;
  std::string output;
  std::vector<std::string> log;
};

TEST(RequestCycle, TheModuleAnswersThroughHandleRequest) {
  const Case cases[] = {
      {"POST", "/main", "", true, Answer("main POST|after"), {"create", "before", "main", "after"}},
      {"GET", "/MAIN", "", true, Answer("main GET|after"), {"create", "before", "main", "after"}},
      {"DELETE", "/main", "", true, Answer("main DELETE|after"), {"create", "before", "main", "after"}},
      {"GET", "/Producer1", "", true, Answer("<p>produced \xE9</p>|after"), {"create", "before", "after"}},
      {"POST", "/Producer1", "", true, Answer("fallback for /Producer1|after"),
       {"create", "before", "fallback", "after"}},
      {"GET", "/decline", "", true, Answer("fallback for /decline|after"),
       {"create", "before", "decline", "fallback", "after"}},
      {"GET", "/fallback", "", true, Answer("fallback for /fallback|after"),
       {"create", "before", "fallback", "after"}},
      {"GET", "/none", "", false, "", {"create", "before", "fallback"}},
      {"GET", "/before", "", true, Answer("answered before dispatch|after"), {"create", "before", "after"}},
      {"GET", "/main", "after=decline", false, "", {"create", "before", "main", "after"}},
      {"GET", "/boom<i>", "", false, ErrorAnswer("boom &lt;b&gt;&amp;&quot;", "/boom&lt;i&gt;"),
       {"create", "before", "boom"}},
  };
  for (const auto& c : cases) {
    TCGIApplication application;
    application.Factory();  // installs the request cycle's exception handler
    application.RegisterModuleClass(TTestWebModule::StaticClass());
    TTestRequest request(c.method, c.path, c.query);
    TCGIResponse response(request);
    EXPECT_EQ(application.HandleRequest(request, response), c.handled) << c.method << " " << c.path;
    EXPECT_EQ(request.Output(), c.output) << c.method << " " << c.path;
    EXPECT_LE(request.fWrites.size(), 2u) << "head and body, each in one write";
    // The list with its module is kept for the next request, and the
    // module tells what ran.
    ASSERT_EQ(application.InactiveCount(), 1);
    TWebModuleList& list = application.ActivateModules();
    auto* module = dynamic_cast<TTestWebModule*>(list.Items(0));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->Log, c.log) << c.method << " " << c.path;
    application.DeactivateModules(list);
  }
}

TEST(RequestCycle, TheModuleIsMadeOnceAndServesLaterRequests) {
  TCGIApplication application;
  application.Factory();
  application.RegisterModuleClass(TTestWebModule::StaticClass());
  for (int i = 0; i < 2; ++i) {
    TTestRequest request("GET", "/main");
    TCGIResponse response(request);
    EXPECT_TRUE(application.HandleRequest(request, response));
  }
  TTestRequest request("GET", "/main");
  TCGIResponse response(request);
  TWebModuleList& list = application.ActivateModules();
  auto* module = dynamic_cast<TTestWebModule*>(list.Items(0));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Log, (std::vector<std::string>{"create", "before", "main", "after", "before", "main", "after"}));
  EXPECT_EQ(module->Senders[2], &module->Actions()[0]);  // OnAction's Sender is the action
  EXPECT_EQ(module->Senders[1], module);
  application.DeactivateModules(list);
}

TEST(RequestCycle, ModuleCreationFailureLeavesHandleRequest) {
  TCGIApplication application;
  application.Factory();
  application.RegisterModuleClass(testing::TBrokenWebModule::StaticClass());
  TTestRequest request("GET", "/main");
  TCGIResponse response(request);
  EXPECT_THROW(application.HandleRequest(request, response), EClassNotFound);
  EXPECT_EQ(request.Output(), "");

  TCGIApplication second;
  second.Factory();
  second.RegisterModuleClass(TTestWebModule::StaticClass());
  TTestWebModule::FailCreation = true;
  EXPECT_THROW(second.HandleRequest(request, response), Exception);
  TTestWebModule::FailCreation = false;
  EXPECT_EQ(request.Output(), "");
}

}  // namespace
}  // namespace nemvo
