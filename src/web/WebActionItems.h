#pragma once
// The ordered actions of a web module. The collection owns its actions; the
// module owns the collection and watches the producers the actions use.
#include <memory>
#include <string_view>
#include <vector>

#include "web/WebActionItem.h"

namespace nemvo {

class TComponent;
class TCustomWebDispatcher;

class TWebActionItems {
 public:
  // `module` (may be null) owns the collection and outlives it.
  explicit TWebActionItems(TCustomWebDispatcher* module);
  ~TWebActionItems();
  TWebActionItems(const TWebActionItems&) = delete;
  TWebActionItems& operator=(const TWebActionItems&) = delete;

  TCustomWebDispatcher* WebDispatcher() const { return fModule; }

  int Count() const { return int(fItems.size()); }
  TWebActionItem& Items(int index) const { return *fItems.at(size_t(index)); }
  TWebActionItem& operator[](int index) const { return Items(index); }

  // A new action at the end, named "WebActionItem<N>" with the smallest N no
  // other action uses (letters A-Z compared without case).
  TWebActionItem& Add();
  // A new action at `index` (0 to Count), named the same way.
  TWebActionItem& Insert(int index);
  void Delete(int index);
  void Clear();
  // Moves the action at `from` so that it ends up at `to`.
  void Move(int from, int to);
  int IndexOf(const TWebActionItem* item) const;
  // The action of that name (regional case rules), or null.
  TWebActionItem* FindItemByName(std::string_view name) const;

  // The module's notification that `component` is being freed.
  void ComponentFreed(TComponent* component);

 private:
  std::unique_ptr<TWebActionItem> NewItem();

  TCustomWebDispatcher* fModule;  // not owned: it owns us
  std::vector<std::unique_ptr<TWebActionItem>> fItems;
};

}  // namespace nemvo
