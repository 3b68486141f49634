#include "web/WebActionItems.h"

#include "base/Component.h"
#include "base/Format.h"
#include "platform/CaseFolding.h"

namespace nemvo {

TWebActionItems::TWebActionItems(TCustomWebDispatcher* module) : fModule(module) {}

TWebActionItems::~TWebActionItems() = default;

std::unique_ptr<TWebActionItem> TWebActionItems::NewItem() {
  auto item = std::make_unique<TWebActionItem>(*this);
  for (int n = 1;; ++n) {
    std::string name = Format("WebActionItem%d", n);
    bool taken = false;
    for (const auto& other : fItems) taken = taken || SameText(other->Name(), name);
    if (!taken) {
      item->fName = std::move(name);
      return item;
    }
  }
}

TWebActionItem& TWebActionItems::Add() { return Insert(Count()); }

TWebActionItem& TWebActionItems::Insert(int index) {
  if (index < 0 || index > Count()) index = Count();
  auto item = NewItem();
  TWebActionItem& added = *item;
  fItems.insert(fItems.begin() + index, std::move(item));
  return added;
}

void TWebActionItems::Delete(int index) {
  (void)fItems.at(size_t(index));  // raises for an index out of range
  fItems.erase(fItems.begin() + index);
}

void TWebActionItems::Clear() {
  while (!fItems.empty()) fItems.pop_back();
}

void TWebActionItems::Move(int from, int to) {
  std::unique_ptr<TWebActionItem> item = std::move(fItems.at(size_t(from)));
  fItems.erase(fItems.begin() + from);
  if (to < 0 || to > Count()) to = Count();
  fItems.insert(fItems.begin() + to, std::move(item));
}

int TWebActionItems::IndexOf(const TWebActionItem* item) const {
  for (size_t i = 0; i < fItems.size(); ++i)
    if (fItems[i].get() == item) return int(i);
  return -1;
}

TWebActionItem* TWebActionItems::FindItemByName(std::string_view name) const {
  for (const auto& item : fItems)
    if (platform::AnsiSameText(item->Name(), name)) return item.get();
  return nullptr;
}

void TWebActionItems::ComponentFreed(TComponent* component) {
  for (const auto& item : fItems) item->ComponentFreed(component);
}

}  // namespace nemvo
