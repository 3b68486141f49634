#include "db/TraceReader.h"

#include <cerrno>

#include "db/ErrorReporting.h"

namespace nemvo {

TTraceReader::TTraceReader(const std::string& channelName)
    : fChannelName(channelName), fChannel(TTraceChannel::Open(channelName)) {
  // Every reader slot taken.
  if (!fChannel->RegisterReader()) RaiseClientError(ClientErrorKind::ceSharedResourceFailed, EUSERS);
}

TTraceReader::~TTraceReader() {
  if (fChannel) fChannel->UnregisterReader();
}

std::optional<TTraceMessage> TTraceReader::ReadMessage(TTraceChannel::Clock::time_point deadline) {
  if (fChannel->Lost()) {
    fPartial.reset();
    fHeld.reset();
    fChannel.reset();  // gives its slot up
    fChannel = TTraceChannel::Open(fChannelName);
    if (!fChannel->RegisterReader()) RaiseClientError(ClientErrorKind::ceSharedResourceFailed, EUSERS);
  }
  for (;;) {
    std::optional<TTraceChunk> chunk;
    if (fHeld) {
      chunk = std::move(fHeld);
      fHeld.reset();
    } else {
      chunk = fChannel->ReadChunk(deadline);
    }
    if (!chunk) return std::nullopt;
    if (fPartial && (fPartial->timeStamp != chunk->timeStamp || fPartial->flag != chunk->flag)) {
      // The writer gave up on the rest of the earlier message: show what
      // arrived of it and start the new one.
      fHeld = std::move(chunk);
      auto incomplete = std::move(fPartial);
      fPartial.reset();
      return incomplete;
    }
    if (!fPartial) fPartial = TTraceMessage{{}, chunk->timeStamp, chunk->flag};
    fPartial->text += chunk->text;
    if (chunk->text.size() < TTraceChannel::ChunkSize) {
      auto message = std::move(fPartial);
      fPartial.reset();
      return message;
    }
  }
}

}  // namespace nemvo
