#include "cgi/FastCGIParams.h"

#include <algorithm>

namespace nemvo {

bool TFastCGIParams::TakeLength(std::string_view& bytes, uint32_t& length) {
  while (!bytes.empty()) {
    fLength[fLengthHave++] = static_cast<unsigned char>(bytes.front());
    bytes.remove_prefix(1);
    if (fLengthHave == 1 && (fLength[0] & 0x80) == 0) {
      length = fLength[0];
      fLengthHave = 0;
      return true;
    }
    if (fLengthHave == 4) {
      length = uint32_t(fLength[0] & 0x7f) << 24 | uint32_t(fLength[1]) << 16 | uint32_t(fLength[2]) << 8 | fLength[3];
      fLengthHave = 0;
      return true;
    }
  }
  return false;
}

void TFastCGIParams::AdmitPair() {
  if (fPairs.size() >= fMaxCount) {
    fState = TState::BeyondCount;
    return;
  }
  // In 64 bits: two 31-bit lengths cannot wrap it.
  if (uint64_t(fData.size()) + fNameLength + fValueLength > fMaxBytes) {
    fState = TState::BeyondBytes;
    return;
  }
  fPairs.push_back({fData.size(), fNameLength, fValueLength});
  fLeft = fNameLength;
  fStep = TStep::Name;
}

void TFastCGIParams::Feed(std::string_view bytes) {
  while (fState == TState::Reading && !bytes.empty()) {
    switch (fStep) {
      case TStep::NameLength:
        if (TakeLength(bytes, fNameLength)) fStep = TStep::ValueLength;
        break;
      case TStep::ValueLength:
        if (TakeLength(bytes, fValueLength)) AdmitPair();
        break;
      case TStep::Name:
      case TStep::Value: {
        const size_t take = std::min(fLeft, bytes.size());
        fData.append(bytes.data(), take);
        bytes.remove_prefix(take);
        fLeft -= take;
        break;
      }
    }
    // A name or value of no bytes is whole at once.
    if (fState == TState::Reading && fLeft == 0) {
      if (fStep == TStep::Name) {
        fStep = TStep::Value;
        fLeft = fValueLength;
      }
      if (fStep == TStep::Value && fLeft == 0) fStep = TStep::NameLength;
    }
  }
}

void TFastCGIParams::End() {
  if (fState != TState::Reading) return;
  fState = fStep == TStep::NameLength && fLengthHave == 0 ? TState::Whole : TState::Cut;
}

std::optional<std::string_view> TFastCGIParams::Find(std::string_view name) const {
  for (size_t i = 0; i < fPairs.size(); ++i) {
    const auto [n, v] = Pair(i);
    if (n == name) return v;
  }
  return std::nullopt;
}

std::pair<std::string_view, std::string_view> TFastCGIParams::Pair(size_t index) const {
  const TEntry& e = fPairs[index];
  const std::string_view data(fData);
  // A pair still arriving has only part of its bytes.
  const std::string_view name = data.substr(std::min(e.at, data.size()), e.nameLength);
  const size_t valueAt = e.at + e.nameLength;
  const std::string_view value = valueAt <= data.size() ? data.substr(valueAt, e.valueLength) : std::string_view();
  return {name, value};
}

void TFastCGIParams::Clear() {
  fState = TState::Reading;
  fStep = TStep::NameLength;
  fLengthHave = 0;
  fNameLength = fValueLength = 0;
  fLeft = 0;
  fData.clear();
  fPairs.clear();
}

void TFastCGIParams::AppendPair(std::string& out, std::string_view name, std::string_view value) {
  for (size_t n : {name.size(), value.size()}) {
    if (n < 0x80) {
      out += char(n);
    } else {
      out += char(0x80 | ((n >> 24) & 0x7f));
      out += char((n >> 16) & 0xff);
      out += char((n >> 8) & 0xff);
      out += char(n & 0xff);
    }
  }
  out.append(name);
  out.append(value);
}

}  // namespace nemvo
