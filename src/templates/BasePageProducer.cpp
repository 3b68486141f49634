#include "templates/BasePageProducer.h"

#include "templates/ExpandTemplate.h"

namespace nemvo {

TBasePageProducer::TBasePageProducer(TComponent* owner) : TCustomContentProducer(owner) {}

std::string TBasePageProducer::ProduceContent() {
  TTemplateStream stream = OpenTemplate();
  return stream ? ProduceFromStream(*stream) : std::string();
}

std::string TBasePageProducer::ProduceFromStream(TStream& stream) {
  return ExpandTemplate(stream, fStripParamQuotes,
                        [this](const std::string& tagString, TStringList& tagParams) {
                          return ReplaceTag(tagString, tagParams);
                        });
}

std::string TBasePageProducer::ProduceFromString(const std::string& source) {
  TStringStream stream(source);
  return ProduceFromStream(stream);
}

std::string TBasePageProducer::ReplaceTag(const std::string& tagString, TStringList&) {
  return "<#" + tagString + ">";
}

std::string TBasePageProducer::TemplateFileName() const { return {}; }

TTemplateStream TBasePageProducer::OpenTemplate() { return TTemplateStream(); }

}  // namespace nemvo
