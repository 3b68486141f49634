#include "web/CustomContentProducer.h"

namespace nemvo {

TCustomContentProducer::TCustomContentProducer(TComponent* owner) : TComponent(owner) {}

TCustomContentProducer::~TCustomContentProducer() = default;

std::string TCustomContentProducer::ProduceContent() { return {}; }

std::string TCustomContentProducer::ProduceFromStream(TStream&) { return ProduceContent(); }

std::string TCustomContentProducer::ProduceFromString(const std::string&) { return ProduceContent(); }

}  // namespace nemvo
