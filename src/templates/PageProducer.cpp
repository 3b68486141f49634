#include "templates/PageProducer.h"

#include "base/ClassRegistry.h"

namespace nemvo {

namespace {

// HTMLDoc is written as one string whose lines are separated by line breaks.
TPropertyInfo HTMLDocProperty() {
  return {"HTMLDoc", [](TObject& target, const TStoredValue& value, IDefinitionReader&) {
            TStringList lines;
            lines.SetText(value.AsString());
            detail::Target<TPageProducer>(target).SetHTMLDoc(lines);
          }, {}, {}};
}

[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TPageProducer",
    .ComponentClass = &TPageProducer::StaticClass(),
    .Properties = {
        HTMLDocProperty(),
        StringProperty("HTMLFile", &TPageProducer::SetHTMLFile),
        BooleanProperty("StripParamQuotes", &TPageProducer::SetStripParamQuotes),
        EventProperty("OnHTMLTag", &TPageProducer::SetOnHTMLTag),
        StringProperty("ScriptEngine", &TPageProducer::SetScriptEngine),
    },
    .Methods = {},
    .Definition = {},
});

}  // namespace

TPageProducer::TPageProducer(TComponent* owner) : TCustomPageProducer(owner) {}

}  // namespace nemvo
