#include "web/CustomWebDispatcher.h"

#include <gtest/gtest.h>

#include "cgi/CGIResponse.h"
#include "cgi/WebException.h"
#include "web/CustomContentProducer.h"
#include "web/Mask.h"
#include "web/TestRequest.h"
#include "web/WebModule.h"

namespace nemvo {
namespace {

using testing::TTestRequest;

// A module whose actions record what ran, in order.
class DispatchTest : public ::testing::Test {
 protected:
  std::unique_ptr<TWebModule> module{CreateDataModule<TWebModule>()};
  std::vector<std::string> log;

  // An action on `path` whose handler logs `name` and leaves Handled as `handles`.
  TWebActionItem& Action(const std::string& name, const std::string& path, bool handles = true) {
    TWebActionItem& action = module->Actions().Add();
    action.SetName(name);
    action.SetPathInfo(path);
    action.SetOnAction([this, name, handles](TObject*, TWebRequest&, TWebResponse& response, bool& handled) {
      log.push_back(name);
      response.SetContent(name);
      handled = handles;
    });
    return action;
  }

  THTTPMethodEvent Logging(const std::string& name, int setHandled = -1) {
    return [this, name, setHandled](TObject* sender, TWebRequest&, TWebResponse&, bool& handled) {
      EXPECT_EQ(sender, module.get());
      log.push_back(name + (handled ? "(true)" : "(false)"));
      if (setHandled >= 0) handled = setHandled != 0;
    };
  }

  bool Route(const std::string& method, const std::string& path, TCGIResponse** out = nullptr) {
    request = std::make_unique<TTestRequest>(method, path);
    response = std::make_unique<TCGIResponse>(*request);
    if (out) *out = response.get();
    return module->RouteRequest(*request, *response);
  }

  std::unique_ptr<TTestRequest> request;
  std::unique_ptr<TCGIResponse> response;
};

TEST_F(DispatchTest, RoutesByMethodAndPathInListOrder) {
  Action("main", "/main");
  Action("also", "/main");
  Action("posts", "/form").SetMethodType(mtPost);
  Action("any", "/a*");

  struct Case {
    std::string method, path;
    bool handled;
    std::string ran;
  };
  const Case cases[] = {
      {"POST", "/main", true, "main"},   {"GET", "/MAIN", true, "main"},  {"DELETE", "/Main", true, "main"},
      {"POST", "/main/", false, ""},     {"GET", "/mainx", false, ""},    {"GET", "main", false, ""},
      {"GET", "", false, ""},            {"POST", "/form", true, "posts"}, {"GET", "/form", false, ""},
      {"GET", "/anything", true, "any"},
  };
  for (const auto& c : cases) {
    log.clear();
    TCGIResponse* r = nullptr;
    EXPECT_EQ(Route(c.method, c.path, &r), c.handled) << c.method << " " << c.path;
    EXPECT_EQ(log.empty() ? "" : log[0], c.ran) << c.method << " " << c.path;
    EXPECT_LE(log.size(), 1u);
    if (!c.handled) {
      EXPECT_EQ(r->Content(), "") << "the response is left as it was";
    }
    EXPECT_FALSE(r->Sent());
  }
}

TEST_F(DispatchTest, EmptyPathAnswersOnlyTheEmptyPathInfo) {
  Action("empty", "");
  EXPECT_TRUE(Route("GET", ""));
  EXPECT_FALSE(Route("GET", "/"));
}

TEST_F(DispatchTest, NothingRunsWhenNoActionAcceptsTheRequest) {
  Action("main", "/main");
  module->SetAfterDispatch(Logging("afterDispatch"));
  EXPECT_FALSE(Route("GET", "/other"));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(module->CurrentRequest(), request.get());
  EXPECT_EQ(module->CurrentResponse(), response.get());
}

TEST_F(DispatchTest, DeclinedRequestsGoOnToLaterActions) {
  Action("first", "/x", false);
  Action("second", "/x");
  EXPECT_TRUE(Route("GET", "/x"));
  EXPECT_EQ(log, (std::vector<std::string>{"first", "second"}));
}

// A handler may delete actions, its own among them, while the routing runs;
// the routing goes on with the action that now follows and reads nothing of
// a deleted one.
TEST_F(DispatchTest, HandlerThatDeletesActionsLeavesTheRoutingSound) {
  struct Case {
    const char* name;
    std::vector<std::string> deleted;  // by the handler of "first", which declines
    bool firstIsDefault;
    std::vector<std::string> ran;
  };
  const Case cases[] = {
      {"itself", {"first"}, false, {"zeroth", "first", "second", "third"}},
      {"itself, the default", {"first"}, true, {"zeroth", "first", "second", "third"}},
      {"the next one", {"second"}, false, {"zeroth", "first", "third"}},
      {"itself and the next one", {"first", "second"}, false, {"zeroth", "first", "third"}},
      {"an earlier one", {"zeroth"}, false, {"zeroth", "first", "second", "third"}},
      {"all", {"zeroth", "first", "second", "third"}, true, {"zeroth", "first"}},
  };
  for (const Case& c : cases) {
    module.reset(CreateDataModule<TWebModule>());
    log.clear();
    Action("zeroth", "/x", false);
    TWebActionItem& first = Action("first", "/x", false);
    first.SetDefault(c.firstIsDefault);
    first.SetOnAction([this, &c](TObject*, TWebRequest&, TWebResponse&, bool& handled) {
      log.push_back("first");
      for (const std::string& name : c.deleted)
        module->Actions().Delete(module->Actions().IndexOf(module->Actions().FindItemByName(name)));
      handled = false;
    });
    Action("second", "/x", false);
    Action("third", "/x", false);
    EXPECT_FALSE(Route("GET", "/x")) << c.name;
    EXPECT_EQ(log, c.ran) << c.name;
  }
}

TEST_F(DispatchTest, DisabledDefaultActionStillAnswersAsTheDefault) {
  TWebActionItem& fallback = Action("fallback", "/fallback");
  fallback.SetDefault(true);
  fallback.SetEnabled(false);
  fallback.SetMethodType(mtPost);
  Action("main", "/main");
  EXPECT_TRUE(Route("GET", "/unknown"));
  EXPECT_EQ(log, (std::vector<std::string>{"fallback"}));
  log.clear();
  EXPECT_TRUE(Route("GET", "/main"));
  EXPECT_EQ(log, (std::vector<std::string>{"main"}));
}

TEST_F(DispatchTest, DefaultActionThatDeclinesIsTriedAgainAsTheDefault) {
  int calls = 0;
  TWebActionItem& fallback = module->Actions().Add();
  fallback.SetDefault(true);
  fallback.SetPathInfo("/x");
  fallback.SetOnAction([&](TObject*, TWebRequest&, TWebResponse&, bool& handled) { handled = ++calls == 2; });
  EXPECT_TRUE(Route("GET", "/x"));
  EXPECT_EQ(calls, 2);
}

TEST_F(DispatchTest, DefaultActionWithoutHandlerOrProducerHandlesNothing) {
  module->Actions().Add().SetDefault(true);
  EXPECT_FALSE(Route("GET", "/x"));
}

// BeforeDispatch and AfterDispatch frame the actions; each may set Handled
// (-1: leaves it as it found it).
TEST_F(DispatchTest, BeforeAndAfterDispatchFrameTheActions) {
  struct Case {
    const char* what;
    int beforeSets, afterSets;
    bool routed;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"both leave Handled", -1, -1, true, {"before(false)", "main", "after(true)"}},
      {"BeforeDispatch declines", 0, -1, true, {"before(false)", "main", "after(true)"}},
      {"BeforeDispatch handles: no action runs", 1, -1, true, {"before(false)", "after(true)"}},
      {"AfterDispatch takes the answer back", -1, 0, false, {"before(false)", "main", "after(true)"}},
      {"BeforeDispatch handles, AfterDispatch takes it back", 1, 0, false, {"before(false)", "after(true)"}},
  };
  Action("main", "/main");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    module->SetBeforeDispatch(Logging("before", c.beforeSets));
    module->SetAfterDispatch(Logging("after", c.afterSets));
    EXPECT_EQ(Route("GET", "/main"), c.routed);
    EXPECT_EQ(log, c.log);
  }
}

TEST_F(DispatchTest, BeforeDispatchThatSendsCountsAsHandled) {
  Action("main", "/main");
  module->SetBeforeDispatch([this](TObject*, TWebRequest&, TWebResponse& r, bool&) {
    log.push_back("before");
    r.SendResponse();
  });
  module->SetAfterDispatch(Logging("after"));
  EXPECT_TRUE(Route("GET", "/main"));
  EXPECT_EQ(log, (std::vector<std::string>{"before"}));  // sent: no action, no AfterDispatch
}

TEST_F(DispatchTest, SentResponseIsNotRoutedAgain) {
  Action("main", "/main");
  module->SetBeforeDispatch(Logging("before"));
  request = std::make_unique<TTestRequest>("GET", "/main");
  response = std::make_unique<TCGIResponse>(*request);
  response->SendResponse();
  EXPECT_TRUE(module->RouteRequest(*request, *response));
  EXPECT_TRUE(log.empty());
}

TEST_F(DispatchTest, InvalidActionPathFailsTheRouting) {
  Action("bad", "/[]");
  try {
    Route("GET", "/x");
    ADD_FAILURE();
  } catch (const EMaskException& e) {
    EXPECT_EQ(e.Message(), "'/[]' is an invalid mask at (3)");
  }
}

TEST_F(DispatchTest, HandlerExceptionsLeaveTheRoutingUnchanged) {
  module->Actions().Add().SetOnAction([](TObject*, TWebRequest&, TWebResponse& r, bool&) {
    r.SetContent("partial");
    throw EWebException("from the handler");
  });
  module->Actions()[0].SetPathInfo("/x");
  TCGIResponse* r = nullptr;
  EXPECT_THROW(Route("GET", "/x", &r), EWebException);
  EXPECT_EQ(r->Content(), "partial");
}

// ---- ReportException ----

const std::string kPage = "<html><body><h1>Internal Application Error</h1>\r\n<p>boom\r\n"
                          "<p><hr width=\"100%\"><i>/x</i></body></html>";

TEST_F(DispatchTest, ReportExceptionSendsTheErrorPage) {
  Route("GET", "/x");
  bool handled = false;
  module->ReportException(Exception("boom"), handled);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(response->Sent());
  EXPECT_EQ(response->StatusCode(), 500);
  EXPECT_EQ(response->Content(), kPage);
  const std::string out = request->Output();
  EXPECT_EQ(out.substr(0, 34), "Status: 500 Internal Server Error\r");
  EXPECT_EQ(out.substr(out.size() - kPage.size()), kPage);
}

TEST_F(DispatchTest, ErrorPageEscapesMessageAndPath) {
  Route("GET", "/<script>alert(\"x\")</script>&");
  bool handled = false;
  module->ReportException(Exception("bad <b>\"&\"</b> 100%"), handled);
  EXPECT_EQ(response->Content(),
            "<html><body><h1>Internal Application Error</h1>\r\n"
            "<p>bad &lt;b&gt;&quot;&amp;&quot;&lt;/b&gt; 100%\r\n"
            "<p><hr width=\"100%\"><i>/&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;</i></body></html>");
}

TEST_F(DispatchTest, ReportExceptionAfterSendingReplacesOnlyTheContent) {
  Route("GET", "/x");
  response->SendResponse();
  const size_t written = request->fWrites.size();
  bool handled = false;
  module->ReportException(Exception("boom"), handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(response->Content(), kPage);
  EXPECT_EQ(response->StatusCode(), 200);
  EXPECT_TRUE(response->Sent());
  EXPECT_EQ(request->fWrites.size(), written) << "nothing more written";
}

TEST_F(DispatchTest, ReportExceptionWithoutARoutingDoesNothing) {
  bool handled = true;
  module->ReportException(Exception("boom"), handled);
  EXPECT_FALSE(handled);
}

TEST_F(DispatchTest, OnExceptionAnswersInstead) {
  Route("GET", "/x");
  module->SetOnException([this](TObject* sender, const Exception& e, bool& handled) {
    EXPECT_EQ(sender, module.get());
    EXPECT_TRUE(handled);
    EXPECT_EQ(response->StatusCode(), 500);
    response->SetContent("sorry: " + e.Message());
  });
  bool handled = false;
  module->ReportException(Exception("boom"), handled);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(response->Sent());
  EXPECT_EQ(response->Content(), "sorry: boom");
}

TEST_F(DispatchTest, OnExceptionThatDeclinesFallsBackToTheErrorPage) {
  Route("GET", "/x");
  module->SetOnException([](TObject*, const Exception&, bool& handled) { handled = false; });
  bool handled = false;
  module->ReportException(Exception("boom"), handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(response->Content(), kPage);
  EXPECT_EQ(request->fWrites.size(), 2u);  // head and body, once
}

// ---- The module as a container ----

TEST(WebModule, ProducersPlacedOnItKnowItAsHost) {
  auto module = std::unique_ptr<TWebModule>(CreateDataModule<TWebModule>());
  auto* placed = CreateOwned<TCustomContentProducer>(module.get());
  EXPECT_EQ(placed->HostModule(), module.get());
  auto loose = std::make_unique<TCustomContentProducer>();
  EXPECT_EQ(loose->HostModule(), nullptr);
  module->InsertComponent(loose.get());
  EXPECT_EQ(loose->HostModule(), module.get());
  module->RemoveComponent(loose.get());
  EXPECT_EQ(loose->HostModule(), nullptr);
  module->InsertComponent(loose.release());
}

TEST(WebModule, OneDispatcherPerOwner) {
  TComponent owner;
  auto* first = CreateDataModule<TWebModule>(&owner);
  EXPECT_EQ(first->Owner(), &owner);
  try {
    CreateDataModule<TWebModule>(&owner);
    ADD_FAILURE();
  } catch (const EWebException& e) {
    EXPECT_EQ(e.Message(), "Only one WebDispatcher per form/data module");
  }
  EXPECT_THROW(CreateDataModule<TWebModule>(first), EWebException);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(first->ComponentCount(), 0);
}

TEST(WebModule, PlainFrameworkModulesNeedNoDefinition) {
  EXPECT_NO_THROW(std::unique_ptr<TComponent>(TWebModule::StaticClass().Create(nullptr)));
  EXPECT_NO_THROW(std::unique_ptr<TComponent>(TCustomWebDispatcher::StaticClass().Create(nullptr)));
  EXPECT_NO_THROW(std::unique_ptr<TComponent>(TDataModule::StaticClass().Create(nullptr)));
}

}  // namespace
}  // namespace nemvo
