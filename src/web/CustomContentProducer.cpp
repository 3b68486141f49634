#include "web/CustomContentProducer.h"

#include "base/ClassRegistry.h"
#include "web/CustomWebDispatcher.h"

namespace nemvo {

namespace {
[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TCustomContentProducer",
    .ComponentClass = &TCustomContentProducer::StaticClass(),
});
}  // namespace

// Placed on a module that already exists, the producer cannot be seen as one
// while the base constructor inserts it, so it looks at its owner itself.
TCustomContentProducer::TCustomContentProducer(TComponent* owner)
    : TComponent(owner), fHostModule(dynamic_cast<TCustomWebDispatcher*>(owner)) {}

TCustomContentProducer::~TCustomContentProducer() = default;

std::string TCustomContentProducer::ProduceContent() { return {}; }

std::string TCustomContentProducer::ProduceFromStream(TStream&) { return ProduceContent(); }

std::string TCustomContentProducer::ProduceFromString(const std::string&) { return ProduceContent(); }

}  // namespace nemvo
