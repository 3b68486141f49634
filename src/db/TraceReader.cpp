#include "db/TraceReader.h"

#include <algorithm>
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

TTraceMessage TTraceReader::Finish(TTraceMessage::End end) {
  TTraceMessage message = std::move(*fPartial);
  fPartial.reset();
  message.end = end;
  if (end != TTraceMessage::End::kWhole) fSkipping = Skipped{message.timeStamp, message.flag};
  return message;
}

std::optional<TTraceMessage> TTraceReader::ReadMessage(Clock::time_point deadline) {
  if (fChannel->Lost()) {
    fPartial.reset();
    fHeld.reset();
    fSkipping.reset();
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
      // Chunks may keep coming as fast as a writer offers them: the caller's
      // deadline is kept whether or not they do.
      const auto now = Clock::now();
      if (now >= deadline) return std::nullopt;
      if (fPartial && now >= fPartialDeadline) return Finish(TTraceMessage::End::kUnfinished);
      chunk = fChannel->ReadChunk(fPartial ? std::min(deadline, fPartialDeadline) : deadline);
      if (!chunk) {
        if (fPartial && Clock::now() >= fPartialDeadline) return Finish(TTraceMessage::End::kUnfinished);
        return std::nullopt;
      }
    }
    const bool last = chunk->text.size() < TTraceChannel::ChunkSize;
    if (fSkipping) {
      if (SameMessage(*chunk, fSkipping->timeStamp, fSkipping->flag)) {
        if (last) fSkipping.reset();
        continue;
      }
      fSkipping.reset();
    }
    if (fPartial && !SameMessage(*chunk, fPartial->timeStamp, fPartial->flag)) {
      // The writer gave up on the rest of the earlier message: show what
      // arrived of it and start the new one.
      fHeld = std::move(chunk);
      return Finish(TTraceMessage::End::kUnfinished);
    }
    if (!fPartial) {
      fPartial = TTraceMessage{{}, chunk->timeStamp, chunk->flag};
      fPartialDeadline = Clock::now() + UnfinishedAfter;
    }
    const size_t room = MaxMessageBytes - fPartial->text.size();
    if (chunk->text.size() > room || (chunk->text.size() == room && !last)) {
      fPartial->text.append(chunk->text, 0, room);
      TTraceMessage cut = Finish(TTraceMessage::End::kCut);
      if (last) fSkipping.reset();
      return cut;
    }
    fPartial->text += chunk->text;
    if (last) return Finish(TTraceMessage::End::kWhole);
  }
}

}  // namespace nemvo
