#pragma once
// The web module that application module classes derive from: a dispatcher
// whose actions and handlers its stored definition sets. A class deriving
// from it declares itself with NEMVO_DATA_MODULE, registers its class (with
// its handler methods and its definition) and is created through its class's
// Create entry or CreateDataModule<T>.
#include "web/CustomWebDispatcher.h"

namespace nemvo {

class TWebModule : public TCustomWebDispatcher {
  NEMVO_DATA_MODULE(TWebModule, TCustomWebDispatcher)

 public:
  explicit TWebModule(TComponent* owner = nullptr);
  ~TWebModule() override;
};

}  // namespace nemvo
