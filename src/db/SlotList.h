#pragma once
// The registration lists of connections and transactions: a freed slot holds
// nullptr and is reused, so the index a member was given stays its own.
#include <algorithm>
#include <vector>

namespace nemvo {

// Index of item, which is added when not yet listed (into the first free slot).
template <class T>
int AddTo(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) return int(it - list.begin());
  it = std::find(list.begin(), list.end(), nullptr);
  if (it != list.end()) {
    *it = item;
    return int(it - list.begin());
  }
  list.push_back(item);
  return int(list.size()) - 1;
}

template <class T>
void RemoveFrom(std::vector<T*>& list, T* item) {
  std::replace(list.begin(), list.end(), item, static_cast<T*>(nullptr));
}

template <class T>
int CountOf(const std::vector<T*>& list) {
  return int(std::count_if(list.begin(), list.end(), [](T* p) { return p != nullptr; }));
}

}  // namespace nemvo
