#pragma once
// A request's parameters as the web server streams them: name-value pairs,
// each length in one byte (below 128) or four (high bit set, 31 bits), the
// pairs cut anywhere across records. Decoded as the bytes come, within
// limits that hold from the first byte: a pair whose lengths would go beyond
// them is refused before any of its bytes is kept, and nothing after it is.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nemvo {

class TFastCGIParams {
 public:
  enum class TState {
    Reading,      // more may come
    Whole,        // the stream has ended after a whole pair
    BeyondBytes,  // the names and values would exceed maxBytes
    BeyondCount,  // there would be more than maxCount pairs
    Cut,          // the stream ended inside a pair
  };

  TFastCGIParams(size_t maxBytes, size_t maxCount) : fMaxBytes(maxBytes), fMaxCount(maxCount) {}

  // The stream's next bytes. Ignored once the state is no longer Reading.
  void Feed(std::string_view bytes);
  // The stream has ended (the empty record).
  void End();

  TState State() const { return fState; }
  // Beyond a limit or cut: the request cannot be served.
  bool Refused() const { return fState != TState::Reading && fState != TState::Whole; }

  // The value of the first pair named `name`.
  std::optional<std::string_view> Find(std::string_view name) const;
  size_t Count() const { return fPairs.size(); }
  std::pair<std::string_view, std::string_view> Pair(size_t index) const;
  // The size held: names and values.
  size_t Bytes() const { return fData.size(); }

  // Forgets everything, for the connection's next request; the memory stays.
  void Clear();

  // Appends the encoding of one pair to `out`.
  static void AppendPair(std::string& out, std::string_view name, std::string_view value);

 private:
  enum class TStep : uint8_t { NameLength, ValueLength, Name, Value };
  struct TEntry {
    size_t at;  // the name's first byte in fData; the value follows it
    uint32_t nameLength, valueLength;
  };

  // Takes length bytes from `bytes` (advancing it); true once the length is whole.
  bool TakeLength(std::string_view& bytes, uint32_t& length);
  // Both lengths are known: the pair is admitted, or the state says why not.
  void AdmitPair();

  size_t fMaxBytes, fMaxCount;
  TState fState = TState::Reading;
  TStep fStep = TStep::NameLength;
  unsigned char fLength[4] = {};
  size_t fLengthHave = 0;
  uint32_t fNameLength = 0, fValueLength = 0;
  size_t fLeft = 0;  // bytes of the name or value still to come
  std::string fData;
  std::vector<TEntry> fPairs;
};

}  // namespace nemvo
