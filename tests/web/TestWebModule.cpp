#include "web/TestWebModule.h"

#include "base/ClassRegistry.h"
#include "cgi/WebRequest.h"
#include "cgi/WebResponse.h"

namespace nemvo::testing {

namespace {

constexpr std::string_view kTestWebModuleDefinition = R"(
# The module the web tests route through.
WebTest: TTestWebModule {
  OldCreateOrder = false
  OnCreate = ModuleCreate
  BeforeDispatch = ModuleBeforeDispatch
  AfterDispatch = ModuleAfterDispatch
  Actions += {
    Name = "main"
    PathInfo = "/main"
    OnAction = MainAction
  }
  Actions += {
    Name = "page"
    MethodType = mtGet
    Producer = Producer1
  }
  Actions += {
    Name = "decline"
    PathInfo = "decline"
    OnAction = DeclineAction
  }
  Actions += {
    Name = "boom"
    PathInfo = "\\boom*"
    OnAction = BoomAction
  }
  Actions += {
    Name = "fallback"
    Default = true
    Enabled = false
    PathInfo = "/fallback"
    OnAction = FallbackAction
  }
  Producer1: TTestProducer {
    Text = "<p>produced \xE9</p>"
  }
}
)";

constexpr std::string_view kBrokenWebModuleDefinition = R"(
Broken: TBrokenWebModule {
  Actions += {
    Name = "main"
    PathInfo = "/main"
  }
  Nothing1: TNoSuchComponent {
  }
}
)";

[[maybe_unused]] const bool registered =
    RegisterClass({
        .Name = "TTestProducer",
        .ComponentClass = &TTestProducer::StaticClass(),
        .Properties = {StringProperty("Text", &TTestProducer::SetText)},
    }) &&
    RegisterClass({
        .Name = "TTestWebModule",
        .ComponentClass = &TTestWebModule::StaticClass(),
        .Methods =
            {
                Method<TDataModule::TModuleEvent>("ModuleCreate", &TTestWebModule::ModuleCreate),
                Method<THTTPMethodEvent>("ModuleBeforeDispatch", &TTestWebModule::ModuleBeforeDispatch),
                Method<THTTPMethodEvent>("ModuleAfterDispatch", &TTestWebModule::ModuleAfterDispatch),
                Method<THTTPMethodEvent>("MainAction", &TTestWebModule::MainAction),
                Method<THTTPMethodEvent>("DeclineAction", &TTestWebModule::DeclineAction),
                Method<THTTPMethodEvent>("BoomAction", &TTestWebModule::BoomAction),
                Method<THTTPMethodEvent>("FallbackAction", &TTestWebModule::FallbackAction),
            },
        .Definition = kTestWebModuleDefinition,
    }) &&
    RegisterClass({
        .Name = "TBrokenWebModule",
        .ComponentClass = &TBrokenWebModule::StaticClass(),
        .Definition = kBrokenWebModuleDefinition,
    });

}  // namespace

TTestProducer::TTestProducer(TComponent* owner) : TCustomContentProducer(owner) {}

TTestWebModule::TTestWebModule(TComponent* owner) : TWebModule(owner) {}

TBrokenWebModule::TBrokenWebModule(TComponent* owner) : TWebModule(owner) {}

std::string TTestProducer::ProduceContent() {
  ++Produced;
  return fText;
}

void TTestProducer::SetText(const std::string& text) {
  fText = text;
  LoadingWhenSet = IsLoading();
}

void TTestWebModule::ModuleCreate(TObject* sender) {
  Log.push_back("create");
  Senders.push_back(sender);
  if (FailCreation) throw Exception("creation refused");
}

void TTestWebModule::ModuleBeforeDispatch(TObject* sender, TWebRequest& request, TWebResponse& response,
                                          bool& handled) {
  Log.push_back("before");
  Senders.push_back(sender);
  if (request.PathInfo() == "/before") {
    response.SetContent("answered before dispatch");
    handled = true;
  }
}

void TTestWebModule::ModuleAfterDispatch(TObject* sender, TWebRequest& request, TWebResponse& response,
                                         bool& handled) {
  Log.push_back("after");
  Senders.push_back(sender);
  if (request.Query() == "after=decline")
    handled = false;
  else
    response.SetContent(response.Content() + "|after");
}

void TTestWebModule::MainAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool&) {
  Log.push_back("main");
  Senders.push_back(sender);
  response.SetContent("main " + request.Method());
}

void TTestWebModule::DeclineAction(TObject* sender, TWebRequest&, TWebResponse&, bool& handled) {
  Log.push_back("decline");
  Senders.push_back(sender);
  handled = false;
}

void TTestWebModule::BoomAction(TObject* sender, TWebRequest&, TWebResponse& response, bool&) {
  Log.push_back("boom");
  Senders.push_back(sender);
  response.SetContent("half done");
  throw Exception("boom <b>&\"");
}

void TTestWebModule::FallbackAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled) {
  Log.push_back("fallback");
  Senders.push_back(sender);
  if (request.PathInfo().rfind("/none", 0) == 0)
    handled = false;
  else
    response.SetContent("fallback for " + request.PathInfo());
}

}  // namespace nemvo::testing
