#pragma once
// The content-producing interface: what an action needs of anything that can
// fill a response's body. Content producers offer it; an action's
// ProducerContent may be any component that does.
#include <string>

namespace nemvo {

class TStream;

class IProduceContent {
 public:
  virtual ~IProduceContent() = default;
  // The text this producer makes on its own.
  virtual std::string ProduceContent() = 0;
  // The text made from a source read from the stream's current position; the
  // stream stays the caller's.
  virtual std::string ProduceFromStream(TStream& stream) = 0;
  // The text made from a source given as a string.
  virtual std::string ProduceFromString(const std::string& source) = 0;
};

}  // namespace nemvo
