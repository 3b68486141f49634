#pragma once
// A page producer whose template is a file (HTMLFile) or text it holds
// (HTMLDoc); the file wins when both are set. Each transparent tag is handed
// to OnHTMLTag and replaced by its answer, or removed without a handler.
#include <string>

#include "base/StringList.h"
#include "templates/BasePageProducer.h"

namespace nemvo {

class TCustomPageProducer : public TBasePageProducer {
  NEMVO_COMPONENT(TCustomPageProducer, TBasePageProducer)
 public:
  explicit TCustomPageProducer(TComponent* owner = nullptr);

  const std::string& HTMLFile() const { return fHTMLFile; }
  // A name that differs (letters A-Z compared without case) clears HTMLDoc
  // and is stored; a change of letter case alone is not.
  void SetHTMLFile(const std::string& fileName);

  const TStringList& HTMLDoc() const { return fHTMLDoc; }
  TStringList& HTMLDoc() { return fHTMLDoc; }
  // Copies the lines and clears HTMLFile.
  void SetHTMLDoc(const TStringList& lines);

 protected:
  std::string ReplaceTag(const std::string& tagString, TStringList& tagParams) override;
  std::string TemplateFileName() const override;
  // The file, opened anew each time for reading with writers refused, or the
  // lines of HTMLDoc each followed by CR LF. Raises EFOpenError when the file
  // cannot be opened.
  TTemplateStream OpenTemplate() override;

 private:
  std::string fHTMLFile;
  TStringList fHTMLDoc;
};

}  // namespace nemvo
