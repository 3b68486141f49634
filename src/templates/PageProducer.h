#pragma once
// The page producer placed on web modules: a TCustomPageProducer whose
// HTMLDoc, HTMLFile, StripParamQuotes, OnHTMLTag and ScriptEngine a module's
// stored definition may set.
#include "templates/CustomPageProducer.h"

namespace nemvo {

class TPageProducer : public TCustomPageProducer {
  NEMVO_COMPONENT(TPageProducer, TCustomPageProducer)
 public:
  explicit TPageProducer(TComponent* owner = nullptr) : TCustomPageProducer(owner) {}
};

}  // namespace nemvo
