#pragma once
// A content producer that turns a template with transparent tags into a page.
// This class knows no template source of its own; TCustomPageProducer adds
// the template file and the template text.
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "base/Object.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "web/CustomContentProducer.h"

namespace nemvo {

// The kinds of transparent tag that have a name of their own.
enum TTag { tgCustom, tgLink, tgImage, tgTable, tgImageMap, tgObject, tgEmbed };

// Indexed by TTag; the name of tgCustom is never compared.
inline constexpr std::array<const char*, 7> TagNames = {"", "LINK", "IMAGE", "TABLE", "IMAGEMAP", "OBJECT", "EMBED"};

// Called for each transparent tag, with the producer as `sender`: `tagParams` holds its parameters as
// name=value lines (owned by the caller, valid during the call); the text left
// in `replaceText` (empty on entry) replaces the tag.
using THTMLTagEvent = std::function<void(TObject* sender, TTag tag, const std::string& tagString,
                                         TStringList& tagParams, std::string& replaceText)>;

// Frees a template stream only when the producer owns it.
struct TTemplateRelease {
  bool Owned = true;
  void operator()(TStream* stream) const {
    if (Owned) delete stream;
  }
};
using TTemplateStream = std::unique_ptr<TStream, TTemplateRelease>;

class TBasePageProducer : public TCustomContentProducer {
  NEMVO_COMPONENT(TBasePageProducer, TCustomContentProducer)
 public:
  explicit TBasePageProducer(TComponent* owner = nullptr);

  const THTMLTagEvent& OnHTMLTag() const { return fOnHTMLTag; }
  void SetOnHTMLTag(THTMLTagEvent handler) { fOnHTMLTag = std::move(handler); }
  // Whether quotes around tag parameter values are removed; true by default.
  bool StripParamQuotes() const { return fStripParamQuotes; }
  void SetStripParamQuotes(bool value) { fStripParamQuotes = value; }
  // No script engines exist here: the name is kept and changes nothing.
  const std::string& ScriptEngine() const { return fScriptEngine; }
  void SetScriptEngine(const std::string& value) { fScriptEngine = value; }

  // The page from the template that OpenTemplate gives; empty without one.
  std::string ProduceContent() override;
  // The page from the template text read from the stream's current position.
  std::string ProduceFromStream(TStream& stream) override;
  std::string ProduceFromString(const std::string& source) override;

 protected:
  // The text that replaces one tag. Here: the tag itself without parameters.
  virtual std::string ReplaceTag(const std::string& tagString, TStringList& tagParams);
  // The template's file name; none here.
  virtual std::string TemplateFileName() const;
  // The template, or none, with whether the caller owns the stream.
  virtual TTemplateStream OpenTemplate();

 private:
  THTMLTagEvent fOnHTMLTag;
  bool fStripParamQuotes = true;
  std::string fScriptEngine;
};

}  // namespace nemvo
