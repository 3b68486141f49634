#pragma once
// The root of every object that can be the Sender of an event: components,
// and the items of their collections, which are not components.

namespace nemvo {

class TObject {
 public:
  virtual ~TObject() = default;
};

}  // namespace nemvo
