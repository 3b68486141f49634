// The request cycle with modules made for the test: activation and reuse of
// module lists, dispatch, exception handling and the answers it produces.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include "base/Exception.h"
#include "cgi/ApplicationExceptionHandler.h"
#include "cgi/CGIApplication.h"
#include "cgi/CGIEnvironment.h"
#include "support/ExpectedPages.h"
#include "support/OutputCapture.h"
#include "cgi/CGIResponse.h"
#include "cgi/ConsoleMode.h"
#include "cgi/DefaultWebAppServices.h"
#include "cgi/StubRequest.h"
#include "cgi/WebException.h"
#include "cgi/WebRequestHandler.h"

namespace nemvo {
namespace {

using testing::CGIEnvironment;
using testing::TStubRequest;

// What the test modules do, set by each test.
struct Behaviour {
  enum Route { Handle, Pass, Raise, RaiseForeign, SendAndHandle } route = Handle;
  bool reportHandles = true;
  bool reportRaises = false;
  bool failInConstructor = false;
  int created = 0, destroyed = 0, reported = 0;
  std::string lifecycle;  // "made " and "freed " as modules come and go
  std::string reportedMessage;
  TComponent* reporter = nullptr;
};
Behaviour gB;

class TDispatcher : public TComponent, public IWebRequestHandler, public IWebExceptionReporter {
  NEMVO_COMPONENT(TDispatcher, TComponent)

 public:
  explicit TDispatcher(TComponent* owner) : TComponent(owner) {}
  bool RouteRequest(TWebRequest&, TWebResponse& response) override {
    fResponse = &response;
    switch (gB.route) {
      case Behaviour::Handle: response.SetContent("handled"); return true;
      case Behaviour::Pass: return false;
      case Behaviour::Raise: throw Exception("boom");
      case Behaviour::RaiseForeign: throw 42;
      case Behaviour::SendAndHandle: response.SetContent("sent early"); response.SendResponse(); return true;
    }
    return false;
  }
  void ReportException(const Exception& E, bool& handled) override {
    ++gB.reported;
    gB.reportedMessage = E.Message();
    gB.reporter = this;
    if (gB.reportRaises) throw Exception("report failed");
    if (!gB.reportHandles) return;
    fResponse->SetStatusCode(500);
    fResponse->SetContent("module page: " + E.Message());
    fResponse->SendResponse();
    handled = true;
  }

 private:
  TWebResponse* fResponse = nullptr;
};

// A module that is itself the dispatcher.
class TDispatchingModule : public TDispatcher {
  NEMVO_COMPONENT(TDispatchingModule, TDispatcher)

 public:
  explicit TDispatchingModule(TComponent* owner) : TDispatcher(owner) {
    if (gB.failInConstructor) throw EResNotFound("Resource TDispatchingModule not found");
    ++gB.created;
    gB.lifecycle += "made ";
  }
  ~TDispatchingModule() override {
    ++gB.destroyed;
    gB.lifecycle += "freed ";
  }
};

// A module with a plain component first and the dispatcher placed second.
class TModuleWithDispatcher : public TComponent {
  NEMVO_COMPONENT(TModuleWithDispatcher, TComponent)

 public:
  explicit TModuleWithDispatcher(TComponent* owner) : TComponent(owner) {
    CreateOwned<TComponent>(this);
    CreateOwned<TDispatcher>(this);
  }
};

class TPlainModule : public TComponent {
  NEMVO_COMPONENT(TPlainModule, TComponent)

 public:
  explicit TPlainModule(TComponent* owner) : TComponent(owner) {}
};

// A module that brings its own services object.
class TServices : public TDefaultWebAppServices {
 public:
  bool HandleRequest() override {
    ++fCalls;
    return TDefaultWebAppServices::HandleRequest();
  }
  static inline int fCalls = 0;
};
class TModuleWithServices : public TDispatcher, public IGetWebAppServices {
  NEMVO_COMPONENT(TModuleWithServices, TDispatcher)

 public:
  explicit TModuleWithServices(TComponent* owner) : TDispatcher(owner) {}
  std::shared_ptr<IWebAppServices> GetWebAppServices() override { return std::make_shared<TServices>(); }
};

// A factory whose modes are chosen by the test.
class TTestFactory : public TDefaultWebModuleFactory {
 public:
  TTestFactory(const TComponentClass& cls, TWebModuleCreateMode create, TWebModuleCacheMode cache, bool app = false,
               std::string name = "")
      : TDefaultWebModuleFactory(cls), fCreate(create), fCache(cache), fApp(app), fName(std::move(name)) {}
  std::string ModuleName() const override { return fName.empty() ? TDefaultWebModuleFactory::ModuleName() : fName; }
  bool IsAppModule() const override { return fApp; }
  TWebModuleCreateMode CreateMode() const override { return fCreate; }
  TWebModuleCacheMode CacheMode() const override { return fCache; }
  void KeepModule() override { ++fKept; }
  int fKept = 0;

 private:
  TWebModuleCreateMode fCreate;
  TWebModuleCacheMode fCache;
  bool fApp;
  std::string fName;
};

class RequestCycle : public ::testing::Test {
 protected:
  void SetUp() override { gB = Behaviour(); }

  // One request through the handler, with a response that records its writes.
  bool Handle(TWebRequestHandler& handler) {
    TCGIResponse response(fRequest);
    return handler.HandleRequest(fRequest, response);
  }
  std::string Output() const { return fRequest.Output(); }

  struct HTTPRequest : TStubRequest {
    HTTPRequest() { SetField(rfProtocolVersion, "HTTP/1.1"); }
  } fRequest;
};

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return "no exception";
}

TEST_F(RequestCycle, RegisterModuleClassTakesOneClassOnly) {
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_EQ(handler.ModuleClass(), &TDispatchingModule::StaticClass());
  EXPECT_EQ(MessageOf([&] { handler.RegisterModuleClass(TPlainModule::StaticClass()); }),
            "Exception: Only one data module per application");
  EXPECT_EQ(handler.ModuleClass(), &TDispatchingModule::StaticClass());
  EXPECT_EQ(gB.created, 0);  // registering makes no instance
}

TEST_F(RequestCycle, FactoryListRefusesDuplicatesAndASecondAppFactory) {
  TWebModuleFactoryList list;
  auto first = std::make_unique<TDefaultWebModuleFactory>(TDispatchingModule::StaticClass());
  TAbstractWebModuleFactory* raw = first.get();
  list.AddFactory(std::move(first));
  EXPECT_EQ(list.AppModuleFactory(), raw);
  EXPECT_EQ(MessageOf([&] { list.AddFactory(std::unique_ptr<TAbstractWebModuleFactory>(raw)); }),
            "EWebException: Web Module Factory already registered");
  EXPECT_EQ(MessageOf([&] { list.AddFactory(std::make_unique<TDefaultWebModuleFactory>(TPlainModule::StaticClass())); }),
            "EWebException: Web App Module Factory already registered.");
  list.AddFactory(std::make_unique<TTestFactory>(TPlainModule::StaticClass(), CreateOnDemand, KeepCached));
  EXPECT_EQ(list.FactoryCount(), 2);
  EXPECT_EQ(list.AppModuleFactory(), raw);
}

TEST_F(RequestCycle, DefaultFactory) {
  TDefaultWebModuleFactory factory(TDispatchingModule::StaticClass());
  EXPECT_EQ(factory.ModuleName(), "DispatchingModule");
  EXPECT_TRUE(factory.IsAppModule());
  EXPECT_EQ(factory.CreateMode(), CreateAlways);
  EXPECT_EQ(factory.CacheMode(), KeepCached);
  std::unique_ptr<TComponent> module = factory.CreateModule();
  EXPECT_EQ(module->Owner(), nullptr);
  EXPECT_EQ(&module->ClassType(), &TDispatchingModule::StaticClass());
}

TEST_F(RequestCycle, NoModuleClassMeansNoDataModules) {
  TWebRequestHandler handler;
  EXPECT_EQ(MessageOf([&] { Handle(handler); }), "EWebException: No data modules registered");
  EXPECT_EQ(handler.ActiveCount(), 0);
  EXPECT_EQ(handler.PendingCount(), 0);
  EXPECT_EQ(Output(), "");
}

TEST_F(RequestCycle, HandledRequestIsSentOnceAndTheModuleKeptForTheNext) {
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_TRUE(Handle(handler));
  EXPECT_EQ(fRequest.fWrites, (std::vector<std::string>{
                                  "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 7\r\nContent:\r\n\r\n",
                                  "handled"}));
  EXPECT_EQ(handler.ActiveCount(), 0);
  EXPECT_EQ(handler.InactiveCount(), 1);
  EXPECT_TRUE(Handle(handler));
  EXPECT_EQ(gB.created, 1);
  EXPECT_EQ(gB.destroyed, 0);
  EXPECT_EQ(handler.InactiveCount(), 1);
}

TEST_F(RequestCycle, ModuleIsFreedWithTheHandler) {
  for (bool caching : {true, false}) {
    SCOPED_TRACE(caching ? "kept for reuse" : "retired, never released");
    gB = Behaviour();
    {
      TWebRequestHandler handler;
      handler.SetCacheConnections(caching);
      handler.RegisterModuleClass(TDispatchingModule::StaticClass());
      Handle(handler);
      EXPECT_EQ(gB.destroyed, 0);
    }
    EXPECT_EQ(gB.destroyed, 1);
  }
}

TEST_F(RequestCycle, WithoutCachingTheListAndModuleGoAfterTheRequest) {
  TWebRequestHandler handler;
  handler.SetCacheConnections(false);
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  Handle(handler);
  // Retired: freed when the host has delivered the answer.
  EXPECT_EQ(gB.destroyed, 0);
  EXPECT_EQ(handler.InactiveCount(), 0);
  EXPECT_EQ(handler.RetiredCount(), 1);
  handler.ReleaseRetiredModules();
  EXPECT_EQ(gB.destroyed, 1);
  EXPECT_EQ(handler.RetiredCount(), 0);
  Handle(handler);
  EXPECT_EQ(gB.created, 2);
}

// A host that never releases: the next request still starts without the
// last one's modules, freed before its own are made.
TEST_F(RequestCycle, RetiredModulesAreFreedBeforeTheNextRequestsAreMade) {
  TWebRequestHandler handler;
  handler.SetCacheConnections(false);
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  Handle(handler);
  Handle(handler);
  EXPECT_EQ(gB.lifecycle, "made freed made ");
  EXPECT_EQ(handler.RetiredCount(), 1);
}

// However the request ends, its modules wait for the release, and retired
// lists no longer count against MaxConnections.
TEST_F(RequestCycle, RetiredOnEveryWayOut) {
  struct Case {
    const char* name;
    Behaviour::Route route;
    bool reportHandles;
    bool raises;
  } cases[] = {
      {"handled", Behaviour::Handle, true, false},
      {"not handled", Behaviour::Pass, true, false},
      {"answered by the module's error page", Behaviour::Raise, true, false},
      {"exception leaving the cycle", Behaviour::Raise, false, true},
      {"foreign object leaving the cycle", Behaviour::RaiseForeign, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gB = Behaviour();
    gB.route = c.route;
    gB.reportHandles = c.reportHandles;
    TCGIApplication application;
    application.Factory();
    application.SetCacheConnections(false);
    application.SetMaxConnections(1);
    application.RegisterModuleClass(TDispatchingModule::StaticClass());
    bool raised = false;
    try {
      Handle(application);
    } catch (...) {
      raised = true;
    }
    EXPECT_EQ(raised, c.raises);
    EXPECT_EQ(gB.destroyed, 0);
    EXPECT_EQ(application.ActiveCount(), 0);
    EXPECT_EQ(application.RetiredCount(), 1);
    EXPECT_NO_THROW(application.ActivateModules()) << "a retired list is not a connection in use";
    EXPECT_EQ(gB.destroyed, 1) << "the activation freed the retired one";
  }
}

TEST_F(RequestCycle, UnhandledRequestWritesNothing) {
  gB.route = Behaviour::Pass;
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_FALSE(Handle(handler));
  EXPECT_EQ(Output(), "");
}

TEST_F(RequestCycle, ResponseSentByTheDispatcherIsNotSentAgain) {
  gB.route = Behaviour::SendAndHandle;
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_TRUE(Handle(handler));
  EXPECT_EQ(fRequest.fWrites.size(), 2u);
}

TEST_F(RequestCycle, DispatcherPlacedOnTheModuleIsFound) {
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TModuleWithDispatcher::StaticClass());
  EXPECT_TRUE(Handle(handler));
  EXPECT_TRUE(Output().ends_with("handled"));
}

TEST_F(RequestCycle, ModuleWithoutDispatcherRaises) {
  TCGIApplication application;  // its handler raises again for Sender none
  application.Factory();
  application.RegisterModuleClass(TPlainModule::StaticClass());
  EXPECT_EQ(MessageOf([&] { Handle(application); }), "EWebException: No dispatcher component found on data module");
  EXPECT_EQ(application.ActiveCount(), 0);
  EXPECT_EQ(application.InactiveCount(), 1);  // the module is kept all the same
}

TEST_F(RequestCycle, ModuleServicesAreUsedWhenOffered) {
  TServices::fCalls = 0;
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TModuleWithServices::StaticClass());
  EXPECT_TRUE(Handle(handler));
  EXPECT_EQ(TServices::fCalls, 1);
}

TEST_F(RequestCycle, ExceptionFromRoutingGoesToTheModulesReport) {
  gB.route = Behaviour::Raise;
  TCGIApplication application;
  application.Factory();
  application.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_FALSE(Handle(application));
  EXPECT_EQ(gB.reported, 1);
  EXPECT_EQ(gB.reportedMessage, "boom");
  EXPECT_EQ(fRequest.fWrites.size(), 2u);
  EXPECT_TRUE(Output().starts_with("Status: 500 Internal Server Error\r\n"));
  EXPECT_TRUE(Output().ends_with("module page: boom"));
}

TEST_F(RequestCycle, ExceptionTheReportLeavesUnansweredLeavesTheCycle) {
  gB.route = Behaviour::Raise;
  gB.reportHandles = false;
  TCGIApplication application;
  application.Factory();
  application.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_EQ(MessageOf([&] { Handle(application); }), "Exception: boom");
  EXPECT_EQ(application.ActiveCount(), 0);
  EXPECT_EQ(Output(), "");
}

TEST_F(RequestCycle, ForeignObjectsAreNotReported) {
  gB.route = Behaviour::RaiseForeign;
  TCGIApplication application;
  application.Factory();
  application.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_THROW(Handle(application), int);
  EXPECT_EQ(gB.reported, 0);
}

TEST_F(RequestCycle, OnDemandFactoriesAloneActivateNothing) {
  TWebRequestHandler handler;
  handler.ModuleFactories().AddFactory(
      std::make_unique<TTestFactory>(TDispatchingModule::StaticClass(), CreateOnDemand, KeepCached));
  EXPECT_EQ(MessageOf([&] { Handle(handler); }), "EWebException: No automatically activated data modules");
  EXPECT_EQ(handler.ActiveCount(), 0);
  EXPECT_EQ(handler.InactiveCount(), 0);
}

TEST_F(RequestCycle, DestroyAfterRequestModulesGoWithTheRequest) {
  TWebRequestHandler handler;
  handler.ModuleFactories().AddFactory(
      std::make_unique<TTestFactory>(TDispatchingModule::StaticClass(), CreateAlways, DestroyAfterRequest));
  EXPECT_TRUE(Handle(handler));
  EXPECT_EQ(gB.destroyed, 0);
  EXPECT_EQ(handler.InactiveCount(), 0);
  EXPECT_EQ(handler.RetiredCount(), 2) << "the module, and the list it left empty";
  handler.ReleaseRetiredModules();
  EXPECT_EQ(gB.destroyed, 1);
}

TEST_F(RequestCycle, ModuleCreationFailureLeavesNoList) {
  gB.failInConstructor = true;
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  EXPECT_EQ(MessageOf([&] { Handle(handler); }), "EResNotFound: Resource TDispatchingModule not found");
  EXPECT_EQ(handler.ActiveCount(), 0);
  EXPECT_EQ(handler.InactiveCount(), 0);
  EXPECT_EQ(TWebModuleList::Current(), nullptr);
}

TEST_F(RequestCycle, ConnectionLimit) {
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  handler.SetMaxConnections(1);
  TWebModuleList& first = handler.ActivateModules();
  EXPECT_EQ(MessageOf([&] { handler.ActivateModules(); }),
            "EWebException: Maximum number of concurrent connections exceeded.  Please try again later");
  EXPECT_EQ(handler.PendingCount(), 0);
  handler.DeactivateModules(first);
  handler.SetMaxConnections(0);
  std::vector<TWebModuleList*> lists;
  for (int i = 0; i < 40; ++i) lists.push_back(&handler.ActivateModules());
  EXPECT_EQ(handler.ActiveCount(), 40);
  for (TWebModuleList* list : lists) handler.DeactivateModules(*list);
  EXPECT_EQ(handler.ActiveCount(), 0);
  EXPECT_EQ(handler.InactiveCount(), 0);  // none held a module
}

TEST_F(RequestCycle, ReusedListForgetsItsAddedCallback) {
  TWebRequestHandler handler;
  handler.RegisterModuleClass(TDispatchingModule::StaticClass());
  TWebModuleList& list = handler.ActivateModules();
  int added = 0;
  list.SetOnModuleAdded([&](TComponent*) { ++added; });
  TWebRequestHandler::ActivateAutomaticModules(list);
  EXPECT_EQ(added, 1);
  handler.DeactivateModules(list);
  TWebModuleList& again = handler.ActivateModules();
  EXPECT_EQ(&again, &list);
  EXPECT_FALSE(again.GetOnModuleAdded());
  TWebRequestHandler::ActivateAutomaticModules(again);  // it has its module: nothing is made
  EXPECT_EQ(gB.created, 1);
  handler.DeactivateModules(again);
}

// A module that refers to another module by name while it is made.
class TReferringModule : public TComponent {
  NEMVO_COMPONENT(TReferringModule, TComponent)

 public:
  explicit TReferringModule(TComponent* owner) : TComponent(owner) {
    SetName("Referring");
    found = FindGlobalComponent("Other");
    uniqueDuringFixup = GlobalNameIsUnique && GlobalNameIsUnique("Anything");
    current = TWebModuleList::Current();
  }
  static inline TComponent* found = nullptr;
  static inline bool uniqueDuringFixup = false;
  static inline TWebModuleList* current = nullptr;
};

class TOtherModule : public TComponent {
  NEMVO_COMPONENT(TOtherModule, TComponent)

 public:
  explicit TOtherModule(TComponent* owner) : TComponent(owner) { SetName("Other"); }
};

TEST_F(RequestCycle, NamesLookedUpInVainAreResolvedWhenTheFixupEnds) {
  GlobalNameIsUnique = [](const std::string&) { return false; };
  TWebModuleFactoryList factories;
  factories.AddFactory(std::make_unique<TTestFactory>(TReferringModule::StaticClass(), CreateAlways, KeepCached));
  auto other = std::make_unique<TTestFactory>(TOtherModule::StaticClass(), CreateOnDemand, DestroyAfterRequest,
                                              false, "OTHER");
  TTestFactory* otherFactory = other.get();
  factories.AddFactory(std::move(other));
  {
    TWebModuleList list(factories);
    list.AutoCreateModules();
    EXPECT_EQ(TReferringModule::found, nullptr);  // not there yet while the first module was made
    EXPECT_TRUE(TReferringModule::uniqueDuringFixup);
    EXPECT_EQ(TReferringModule::current, &list);
    EXPECT_EQ(TWebModuleList::Current(), nullptr);
    EXPECT_EQ(list.FixupLevel(), 0);
    EXPECT_TRUE(list.UnresolvedNames().Empty());
    ASSERT_EQ(list.ItemCount(), 2);
    EXPECT_EQ(list.FindModuleByName("other"), list.Items(1));
    EXPECT_EQ(list.FindModuleByClass(TOtherModule::StaticClass()), list.Items(1));
    EXPECT_EQ(list.FindModuleByClass(TComponent::StaticClass()), nullptr);  // exact class only
    EXPECT_EQ(otherFactory->fKept, 1);
    EXPECT_FALSE(GlobalNameIsUnique("Anything"));  // the framework's test is back

    // A second run finds both modules and makes nothing.
    list.AutoCreateModules();
    EXPECT_EQ(list.ItemCount(), 2);
    EXPECT_EQ(FindGlobalComponent("Other"), nullptr);  // no list is being filled now
  }
  GlobalNameIsUnique = nullptr;
}

TEST_F(RequestCycle, ModuleByClassOnDemandMakesOneForEachFactoryOfTheClass) {
  TWebModuleFactoryList factories;
  factories.AddFactory(std::make_unique<TTestFactory>(TPlainModule::StaticClass(), CreateOnDemand, KeepCached));
  factories.AddFactory(std::make_unique<TTestFactory>(TOtherModule::StaticClass(), CreateOnDemand, KeepCached));
  factories.AddFactory(std::make_unique<TTestFactory>(TPlainModule::StaticClass(), CreateOnDemand, KeepCached));
  TWebModuleList list(factories);
  TComponent* last = list.ModuleByClassOnDemand(TPlainModule::StaticClass());
  EXPECT_EQ(list.ItemCount(), 2);
  EXPECT_EQ(last, list.Items(1));
  EXPECT_EQ(list.ModuleByNameOnDemand("nothing"), nullptr);
  EXPECT_EQ(list.ModuleByClassOnDemand(TDispatchingModule::StaticClass()), nullptr);
}

// Standard error, kept while the object lives.
struct StderrCapture : testing::OutputCapture {
  StderrCapture() : OutputCapture(STDERR_FILENO) {}
};

TEST_F(RequestCycle, ApplicationExceptionHandlerFollowsTheApplication) {
  {
    TCGIApplication application;
    ASSERT_TRUE(ApplicationExceptionHandler);
    // Before the first request it is HandleWebException: it reports and returns.
    StderrCapture capture;
    try {
      throw EWebException("early");
    } catch (...) {
      ApplicationExceptionHandler(nullptr);
    }
    EXPECT_TRUE(capture.Text().ends_with(" at 0000000000000000.\r\nearly.\r\n\r\n"));

    // With the factory it is HandleCGIException: it raises again for Sender none.
    application.Factory();
    EXPECT_THROW(
        {
          try {
            throw EWebException("later");
          } catch (...) {
            ApplicationExceptionHandler(nullptr);
          }
        },
        EWebException);
  }
  EXPECT_FALSE(ApplicationExceptionHandler);
}

TEST_F(RequestCycle, HandleWebExceptionReportsWhatTheReporterRaises) {
  TWebApplication application;
  TDispatcher dispatcher(nullptr);
  gB.reportRaises = true;
  StderrCapture capture;
  try {
    throw Exception("first");
  } catch (...) {
    application.HandleWebException(&dispatcher);
  }
  const std::string text = capture.Text();
  EXPECT_NE(text.find("Exception Exception in module "), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("\r\nreport failed.\r\n\r\n")) << text;
  EXPECT_EQ(gB.reported, 1);
}

// The whole cycle of one process: standard input and output are real.
class ProcessCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    gB = Behaviour();
    ConsoleMode = true;
  }
  void TearDown() override { ConsoleMode = false; }

  std::string Run(const TComponentClass* moduleClass) {
    CGIEnvironment env({{"REQUEST_METHOD", "POST"}, {"SERVER_PROTOCOL", "HTTP/1.1"}, {"CONTENT_LENGTH", "3"}}, "u=1");
    {
      TCGIApplication application;
      if (moduleClass) application.RegisterModuleClass(*moduleClass);
      application.Run();
    }
    return env.Output();
  }
};

// One whole process per case: what the program writes on standard output.
TEST_F(ProcessCycle, AnswersByOutcome) {
  struct Case {
    const char* what;
    const TComponentClass* moduleClass;
    Behaviour::Route route;
    bool failInConstructor;
    std::string out;
  };
  const Case cases[] = {
      {"handled request", &TDispatchingModule::StaticClass(), Behaviour::Handle, false,
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 7\r\nContent:\r\n\r\nhandled"},
      {"no module", nullptr, Behaviour::Handle, false,
       testing::ServerErrorPage("No data modules registered", "EWebException", "No data modules registered")},
      {"module creation fails", &TDispatchingModule::StaticClass(), Behaviour::Handle, true,
       testing::ServerErrorPage("Resource TDispatchingModule not found", "EResNotFound",
                                "Resource TDispatchingModule not found")},
      {"exception in routing: the module's page", &TDispatchingModule::StaticClass(), Behaviour::Raise, false,
       "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: 17\r\nContent:\r\n\r\n"
       "module page: boom"},
      {"foreign object: the server error with its type and no message", &TDispatchingModule::StaticClass(),
       Behaviour::RaiseForeign, false, testing::ServerErrorPage("", "int", "")},
      {"request passed on: nothing", &TDispatchingModule::StaticClass(), Behaviour::Pass, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    gB = Behaviour();
    gB.route = c.route;
    gB.failInConstructor = c.failInConstructor;
    EXPECT_EQ(Run(c.moduleClass), c.out);
  }
}

}  // namespace
}  // namespace nemvo
