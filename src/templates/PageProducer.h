#pragma once
// The page producer placed on web modules: a TCustomPageProducer whose
// HTMLDoc, HTMLFile, StripParamQuotes, OnHTMLTag and ScriptEngine a module's
// stored definition may set (HTMLDoc as one string of lines, OnHTMLTag by the
// name of a method of the module).
#include "templates/CustomPageProducer.h"

namespace nemvo {

class TPageProducer : public TCustomPageProducer {
  NEMVO_COMPONENT(TPageProducer, TCustomPageProducer)
 public:
  explicit TPageProducer(TComponent* owner = nullptr);
};

}  // namespace nemvo
