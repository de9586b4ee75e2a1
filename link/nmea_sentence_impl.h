// The cutter's feed loop, kept in a header so the sink call inlines: the reader, the tests
// and the benchmark each pass their own lambda and pay no indirect call per sentence.
// Sentences that lie whole inside one chunk and hold no NUL byte are handed out as views of
// the chunk itself; only a run split across chunks, or one with NUL bytes to skip, is
// assembled in the carry-over buffer first.
//
// Thread rule: as for SentenceCutter, one reader owns the object.
#pragma once

#include <cstring>
#include <string_view>

template <typename Sink>
void SentenceCutter::feed(const char* data, std::size_t size, Sink&& sink) {
  if (data == nullptr || size == 0) return;
  const char* p = data;
  const char* const end = data + size;

  if (carryLen_ > 0 || discarding_) {
    // An unfinished run from earlier chunks: it ends at the first "$" of this chunk.
    const char* dollar = static_cast<const char*>(std::memchr(p, '$', static_cast<std::size_t>(end - p)));
    const char* stop = dollar != nullptr ? dollar : end;
    if (!discarding_) appendToRun(p, stop);
    if (dollar == nullptr) return;
    endRun(sink);
    p = dollar;
  } else {
    // Bytes before the first "$" belong to no sentence.
    p = static_cast<const char*>(std::memchr(p, '$', size));
    if (p == nullptr) return;
  }

  // p stands on a "$".
  for (;;) {
    const std::size_t rest = static_cast<std::size_t>(end - p);
    const char* next = static_cast<const char*>(std::memchr(p + 1, '$', rest - 1));
    if (next == nullptr) {
      appendToRun(p, end);
      return;
    }
    const std::size_t len = static_cast<std::size_t>(next - p);
    constexpr std::size_t kLongest = static_cast<std::size_t>(kSentenceBufferSize) - 1;
    if (std::memchr(p, '\0', len) == nullptr) {
      if (len <= kLongest) {
        sink(std::string_view(p, len));
      } else if (const char* lf = static_cast<const char*>(std::memchr(p, '\n', kLongest))) {
        sink(std::string_view(p, static_cast<std::size_t>(lf - p) + 1));  // the sentence, not the noise
      }
    } else {
      appendToRun(p, next);
      endRun(sink);
    }
    p = next;
  }
}

template <typename Sink>
void SentenceCutter::endRun(Sink&& sink) {
  if (carryLen_ > 0) sink(std::string_view(carry_, carryLen_));
  carryLen_ = 0;
  lineEnd_ = 0;
  discarding_ = false;
}

template <typename Sink>
void SentenceCutter::flushComplete(Sink&& sink) {
  if (lineEnd_ > 0) endRun(sink);
}
