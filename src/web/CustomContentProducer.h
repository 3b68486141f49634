#pragma once
// The base of components that produce text for a response (the page producer
// is one). A producer placed on a web module knows that module as its
// HostModule, so that it can reach the request being answered.
#include <string>

#include "base/Component.h"
#include "web/IProduceContent.h"

namespace nemvo {

class TCustomWebDispatcher;

class TCustomContentProducer : public TComponent, public IProduceContent {
  NEMVO_COMPONENT(TCustomContentProducer, TComponent)
 public:
  // A producer created on a web module takes it as its HostModule at once.
  explicit TCustomContentProducer(TComponent* owner = nullptr);
  ~TCustomContentProducer() override;

  // The module this producer is placed on; none when it is on no module, and
  // none again once that module is destroyed. Not owned.
  TCustomWebDispatcher* HostModule() const { return fHostModule; }
  // Kept by the module: set when the producer is placed on it, cleared when
  // it leaves the module or the module goes.
  void SetHostModule(TCustomWebDispatcher* module) { fHostModule = module; }

  // The base produces nothing; both the stream and the string forms fall back
  // to ProduceContent.
  std::string ProduceContent() override;
  std::string ProduceFromStream(TStream& stream) override;
  std::string ProduceFromString(const std::string& source) override;

 private:
  TCustomWebDispatcher* fHostModule = nullptr;
};

}  // namespace nemvo
