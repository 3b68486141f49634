#include "web/WebModule.h"

#include "base/ClassRegistry.h"

namespace nemvo {

namespace {
[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TWebModule",
    .ComponentClass = &TWebModule::StaticClass(),
    .Properties = {
        CollectionProperty<TWebModule>("Actions", [](TWebModule& m) -> TWebActionItem& { return m.Actions().Add(); },
                                       "TWebActionItem"),
        EventProperty("BeforeDispatch", &TWebModule::SetBeforeDispatch),
        EventProperty("AfterDispatch", &TWebModule::SetAfterDispatch),
        EventProperty("OnException", &TWebModule::SetOnException),
    },
});
}  // namespace

// Out of line, so that every module class links this file and its registration.
TWebModule::TWebModule(TComponent* owner) : TCustomWebDispatcher(owner) {}

TWebModule::~TWebModule() = default;

}  // namespace nemvo
