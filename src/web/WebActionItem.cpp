#include "web/WebActionItem.h"

#include <algorithm>

#include "base/ClassRegistry.h"
#include "cgi/WebException.h"
#include "cgi/WebResponse.h"
#include "platform/CaseFolding.h"
#include "web/CustomContentProducer.h"
#include "web/CustomWebDispatcher.h"
#include "web/Mask.h"
#include "web/WebActionItems.h"

namespace nemvo {

namespace {
[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TWebActionItem",
    .Properties = {
        BooleanProperty("Default", &TWebActionItem::SetDefault),
        BooleanProperty("Enabled", &TWebActionItem::SetEnabled),
        EnumProperty("MethodType", &TWebActionItem::SetMethodType,
                     {{"mtAny", mtAny}, {"mtGet", mtGet}, {"mtPut", mtPut}, {"mtPost", mtPost}, {"mtHead", mtHead}}),
        StringProperty("Name", &TWebActionItem::SetName),
        StringProperty("PathInfo", &TWebActionItem::SetPathInfo),
        ComponentProperty("Producer", &TWebActionItem::SetProducer),
        ComponentProperty("ProducerContent", &TWebActionItem::SetProducerContent),
        EventProperty("OnAction", &TWebActionItem::SetOnAction),
    },
});
}  // namespace

TWebActionItem::TWebActionItem(TWebActionItems& collection) : fCollection(collection) {}

TWebActionItem::~TWebActionItem() = default;

int TWebActionItem::Index() const { return fCollection.IndexOf(this); }

std::string TWebActionItem::PathInfo() const {
  if (fPathInfo.empty() && fProducer) return "/" + fProducer->Name();
  return fPathInfo;
}

void TWebActionItem::SetPathInfo(const std::string& value) {
  std::string path = value;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!path.empty() && path[0] != '/') path.insert(path.begin(), '/');
  if (fProducer && path == "/" + fProducer->Name()) path.clear();
  if (!platform::AnsiSameText(path, fPathInfo)) fPathInfo = std::move(path);
}

void TWebActionItem::SetDefault(bool value) {
  if (value)
    for (int i = 0; i < fCollection.Count(); ++i)
      if (&fCollection.Items(i) != this) fCollection.Items(i).fDefault = false;
  fDefault = value;
}

void TWebActionItem::SetName(const std::string& value) {
  if (platform::AnsiSameText(value, fName)) return;
  TWebActionItem* other = fCollection.FindItemByName(value);
  if (other && other != this) throw EWebException("Duplicate action name");
  fName = value;
}

void TWebActionItem::SetProducer(TCustomContentProducer* producer) {
  if (producer) {
    fProducerContent = nullptr;
    if (TCustomWebDispatcher* module = fCollection.WebDispatcher()) module->FreeNotification(producer);
  }
  fProducer = producer;
}

void TWebActionItem::SetProducerContent(TComponent* component) {
  if (component) {
    fProducer = nullptr;
    if (TCustomWebDispatcher* module = fCollection.WebDispatcher()) module->FreeNotification(component);
  }
  fProducerContent = component;
}

void TWebActionItem::ComponentFreed(TComponent* component) {
  if (fProducer == component) fProducer = nullptr;
  if (fProducerContent == component) fProducerContent = nullptr;
}

void TWebActionItem::Assign(const TWebActionItem& source) {
  SetDefault(source.Default());
  SetPathInfo(source.PathInfo());
  SetEnabled(source.Enabled());
  SetMethodType(source.MethodType());
}

const TMask& TWebActionItem::Mask() {
  std::string path = PathInfo();
  if (!fPathMask || !platform::AnsiSameText(path, fMaskSource)) {
    auto mask = std::make_unique<TMask>(path);  // may raise; the old mask stays then
    fPathMask = std::move(mask);
    fMaskSource = std::move(path);
  }
  return *fPathMask;
}

bool TWebActionItem::TryAction(TWebRequest& request, TWebResponse& response, bool asDefault) {
  if (!(fDefault && asDefault)) {
    if (!fEnabled) return false;
    if (fMethodType != mtAny && fMethodType != request.MethodType()) return false;
    if (!Mask().Accepts(request.InternalPathInfo())) return false;
  }
  bool result = false;
  if (fProducer) {
    result = true;
    response.SetContent(fProducer->ProduceContent());
  } else if (fProducerContent) {
    auto* producer = dynamic_cast<IProduceContent*>(fProducerContent);
    result = producer != nullptr;
    if (producer) response.SetContent(producer->ProduceContent());
  }
  if (fOnAction) {
    // A copy: the handler may reassign OnAction while it runs.
    THTTPMethodEvent handler = fOnAction;
    bool handled = true;
    handler(this, request, response, handled);
    result = handled;
  }
  return result;
}

}  // namespace nemvo
