#pragma once
// A web module made for the tests, built from its own stored definition,
// whose handlers answer according to the request so that the same module
// serves the in-process tests and the test CGI program:
//
//   /main              any method: "main <method>"
//   /Producer1         GET: the producer's text (the action has no path of its own)
//   /decline           the handler declines; the default action answers
//   /boom...           the handler raises Exception "boom <b>&\"" (quotes and markup)
//   /before            BeforeDispatch answers alone
//   anything else      the default action (disabled, so only as the default)
//                      answers "fallback for <path>", or declines for /none...
//
// AfterDispatch appends "|after" to the content, or declines when the query
// is "after=decline".
#include <string>
#include <vector>

#include "web/CustomContentProducer.h"
#include "web/WebModule.h"

// The constructors are defined beside the classes' registration, so that
// using a class links its registration too.
namespace nemvo::testing {

class TTestProducer : public TCustomContentProducer {
  NEMVO_COMPONENT(TTestProducer, TCustomContentProducer)

 public:
  explicit TTestProducer(TComponent* owner = nullptr);
  std::string ProduceContent() override;
  const std::string& Text() const { return fText; }
  void SetText(const std::string& text);

  int Produced = 0;
  bool LoadingWhenSet = false;  // IsLoading() when Text was last set
  int LoadedCalls = 0;

 protected:
  void Loaded() override { ++LoadedCalls; }

 private:
  std::string fText;
};

class TTestWebModule : public TWebModule {
  NEMVO_DATA_MODULE(TTestWebModule, TWebModule)

 public:
  explicit TTestWebModule(TComponent* owner = nullptr);

  TTestProducer* Producer1() const { return dynamic_cast<TTestProducer*>(FindComponent("Producer1")); }

  void ModuleCreate(TObject* sender);
  void ModuleBeforeDispatch(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);
  void ModuleAfterDispatch(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);
  void MainAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);
  void DeclineAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);
  void BoomAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);
  void FallbackAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);

  // Handler calls in order: "create", "before", "main", "after", ...
  std::vector<std::string> Log;
  std::vector<TObject*> Senders;

  // When set, OnCreate raises Exception "creation refused".
  static inline bool FailCreation = false;
};

// A module whose definition places a component of a class nobody registered.
class TBrokenWebModule : public TWebModule {
  NEMVO_DATA_MODULE(TBrokenWebModule, TWebModule)

 public:
  explicit TBrokenWebModule(TComponent* owner = nullptr);
};

}  // namespace nemvo::testing
