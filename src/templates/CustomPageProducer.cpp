#include "templates/CustomPageProducer.h"

#include "base/FileStream.h"

namespace nemvo {

TCustomPageProducer::TCustomPageProducer(TComponent* owner) : TBasePageProducer(owner) {}

void TCustomPageProducer::SetHTMLFile(const std::string& fileName) {
  if (SameText(fileName, fHTMLFile)) return;
  fHTMLDoc.Clear();
  fHTMLFile = fileName;
}

void TCustomPageProducer::SetHTMLDoc(const TStringList& lines) {
  fHTMLDoc.Assign(lines);
  fHTMLFile.clear();
}

std::string TCustomPageProducer::ReplaceTag(const std::string& tagString, TStringList& tagParams) {
  TTag tag = tgCustom;
  for (int t = tgEmbed; t >= tgLink; --t) {
    if (SameText(tagString, TagNames[size_t(t)])) {
      tag = TTag(t);
      break;
    }
  }
  std::string replaceText;
  if (OnHTMLTag()) OnHTMLTag()(this, tag, tagString, tagParams, replaceText);
  return replaceText;
}

std::string TCustomPageProducer::TemplateFileName() const { return fHTMLFile; }

TTemplateStream TCustomPageProducer::OpenTemplate() {
  if (!fHTMLFile.empty()) return TTemplateStream(new TFileStream(TemplateFileName()));
  return TTemplateStream(new TStringStream(fHTMLDoc.Text()));
}

}  // namespace nemvo
