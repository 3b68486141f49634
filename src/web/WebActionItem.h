#pragma once
// One action of a web module: which requests it answers (method and a mask
// over the path info) and how (a content producer, a handler, or both).
#include <memory>
#include <string>

#include "base/Object.h"
#include "cgi/WebRequest.h"
#include "web/HTTPMethodEvent.h"

namespace nemvo {

class TComponent;
class TCustomContentProducer;
class TMask;
class TWebActionItems;
class TWebResponse;

class TWebActionItem : public TObject {
 public:
  // Made by TWebActionItems::Add, which names it "WebActionItem<N>".
  explicit TWebActionItem(TWebActionItems& collection);
  ~TWebActionItem() override;
  TWebActionItem(const TWebActionItem&) = delete;
  TWebActionItem& operator=(const TWebActionItem&) = delete;

  TWebActionItems& Collection() const { return fCollection; }
  int Index() const;

  const THTTPMethodEvent& OnAction() const { return fOnAction; }
  void SetOnAction(THTTPMethodEvent handler) { fOnAction = std::move(handler); }

  // The effective path info: the stored one, or "/" and the producer's name
  // when none is stored and a producer is set.
  std::string PathInfo() const;
  // Stores the value in normal form: slashes only, a leading "/", empty when
  // it is just the producer's own path. A change of letter case alone (by the
  // regional rules) is not stored.
  void SetPathInfo(const std::string& value);
  const std::string& StoredPathInfo() const { return fPathInfo; }

  TMethodType MethodType() const { return fMethodType; }
  void SetMethodType(TMethodType value) { fMethodType = value; }

  bool Default() const { return fDefault; }
  // Setting it clears it on every other action of the collection.
  void SetDefault(bool value);

  bool Enabled() const { return fEnabled; }
  void SetEnabled(bool value) { fEnabled = value; }

  const std::string& Name() const { return fName; }
  // Raises EWebException "Duplicate action name" when another action of the
  // collection has the name (regional case rules); a change of case alone
  // is not stored.
  void SetName(const std::string& value);

  // Not owned: the module is told when they are freed and drops them. At
  // most one of the two is set; setting one clears the other.
  TCustomContentProducer* Producer() const { return fProducer; }
  void SetProducer(TCustomContentProducer* producer);
  TComponent* ProducerContent() const { return fProducerContent; }
  void SetProducerContent(TComponent* component);

  // The mask built from the effective path info at the last mask test, and
  // that path info; null and empty before the first.
  const TMask* PathMask() const { return fPathMask.get(); }
  const std::string& MaskSource() const { return fMaskSource; }

  // Copies Default, the effective path info, Enabled and MethodType.
  void Assign(const TWebActionItem& source);

  // Answers the request if the action accepts it (or unconditionally when it
  // is the default action tried as such); true when it handled it.
  bool TryAction(TWebRequest& request, TWebResponse& response, bool asDefault);

 private:
  friend class TWebActionItems;
  // Builds the mask, or rebuilds it when the effective path info changed; a
  // mask that does not compile leaves the old one in place.
  const TMask& Mask();
  // Drops references to a component that is being freed.
  void ComponentFreed(TComponent* component);

  TWebActionItems& fCollection;  // owns this item
  THTTPMethodEvent fOnAction;
  std::string fPathInfo;
  TMethodType fMethodType = mtAny;
  bool fDefault = false;
  bool fEnabled = true;
  std::string fMaskSource;
  std::unique_ptr<TMask> fPathMask;
  std::string fName;
  TCustomContentProducer* fProducer = nullptr;
  TComponent* fProducerContent = nullptr;
};

}  // namespace nemvo
