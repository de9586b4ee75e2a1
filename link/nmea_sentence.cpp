// The per-sentence steps before any parser runs: the checksum test, the field split and the
// dispatch table, plus the cutter's bounded carry-over. Everything here works on views of
// the sentence text and allocates nothing.
//
// Thread rule: reentrant free functions; a SentenceCutter is owned by one reader.
#include "link/nmea_sentence.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "link/number_text.h"

namespace {

// Characters from..to of the address, counted from 1, equal want; a substring that would run
// past the end of the address is shorter than want and so never matches. Compared a byte at
// a time: the texts are three to six bytes, too short to be worth a call to memcmp.
bool CharsAre(std::string_view address, std::size_t from, std::string_view want) {
  if (address.size() < from - 1 + want.size()) return false;
  const char* at = address.data() + (from - 1);
  for (std::size_t k = 0; k < want.size(); ++k) {
    if (at[k] != want[k]) return false;
  }
  return true;
}

// The checksum and the split look at eight bytes at a time: a sentence is some seventy bytes,
// and most of its bytes are neither a separator nor anything else the rules look for.
constexpr std::uint64_t kEachByte = 0x0101010101010101ull;
constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
constexpr bool kWordsWork = std::endian::native == std::endian::little;

std::uint64_t LoadWord(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The high bit of each byte of w that is zero, and of no other: exact, unlike the shorter
// test that may also mark a byte above a zero one.
std::uint64_t ZeroBytes(std::uint64_t w) { return ~(((w & kLow7) + kLow7) | w | kLow7); }
std::uint64_t BytesEqual(std::uint64_t w, char c) { return ZeroBytes(w ^ (kEachByte * static_cast<unsigned char>(c))); }
// Some byte of w is below ","; which one is not told (bytes above the first such byte may be
// marked too), but the answer itself is exact.
bool HasByteBelowComma(std::uint64_t w) {
  return ((w - kEachByte * static_cast<unsigned char>(',')) & ~w & (kEachByte << 7)) != 0;
}

}  // namespace

SentenceRoute RouteOf(std::string_view address) {
  struct Rule {
    std::size_t from;
    std::string_view text;
    SentenceRoute route;
  };
  // Order matters: the first rule that matches decides. "PMTKCHN" therefore goes to the reply
  // handler, and the talker (first two characters) is never looked at for standard types.
  static constexpr std::array<Rule, 11> kRules{{
      {3, "GGA", SentenceRoute::GGA},
      {3, "GLL", SentenceRoute::GLL},
      {3, "GSA", SentenceRoute::GSA},
      {3, "GSV", SentenceRoute::GSV},
      {3, "RMC", SentenceRoute::RMC},
      {3, "VTG", SentenceRoute::VTG},
      {3, "ZDA", SentenceRoute::ZDA},
      {2, "MTK", SentenceRoute::MtkReply},
      {5, "CHN", SentenceRoute::Chn},
      {2, "ZRN001", SentenceRoute::Zrn001},
      {2, "ZRN818", SentenceRoute::Zrn818},
  }};
  for (const Rule& rule : kRules) {
    if (CharsAre(address, rule.from, rule.text)) return rule.route;
  }
  return SentenceRoute::None;
}

bool VerifyChecksum(std::string_view sentence) {
  const char* const p = sentence.data();
  const std::size_t n = sentence.size();
  std::size_t i = 0;
  unsigned sum = 0;
  auto add = [&sum](char c) {
    if (c != '$') sum ^= static_cast<unsigned char>(c);
  };
  if constexpr (kWordsWork) {
    // Every byte the rule treats apart ("$", "*", NUL) is below ","; so is nothing else a
    // sentence's text holds but a blank or a quote. A word with no such byte is simply XORed
    // lane by lane; one with any goes byte by byte.
    std::uint64_t lanes = 0;
    while (i + 8 <= n) {
      const std::uint64_t w = LoadWord(p + i);
      if (!HasByteBelowComma(w)) {
        lanes ^= w;
        i += 8;
        continue;
      }
      const std::size_t wordEnd = i + 8;
      while (i < wordEnd && p[i] != '*' && p[i] != '\0') add(p[i++]);
      if (i < wordEnd) break;  // the loop below ends at this byte
    }
    lanes ^= lanes >> 32;
    lanes ^= lanes >> 16;
    lanes ^= lanes >> 8;
    sum ^= static_cast<unsigned>(lanes & 0xFF);
  }
  for (; i < n; ++i) {
    const char c = p[i];
    if (c == '*') break;
    if (c == '\0') return false;  // the text ends here, before any "*"
    add(c);
  }
  if (i == n) return false;
  // The scan stops at a NUL byte by itself: the text behind the "*" need not be cut there.
  unsigned written = 0;
  if (!ScanHexWidth2(sentence.substr(i + 1), written)) return false;
  return written == sum;
}

void SplitFields(std::string_view sentence, SentenceFields& fields) {
  fields.clear();
  if (sentence.empty()) return;
  fields.fill([sentence](std::string_view* slots) {
    const char* const p = sentence.data();
    const std::size_t n = sentence.size();
    int count = 0;
    std::size_t pos = 1;  // where the field being cut begins, behind the "$" at first
    // Every comma ends a field, wherever it stands, until the table is full.
    auto cut = [&](std::size_t comma) {
      slots[count++] = std::string_view(p + pos, comma - pos);
      pos = comma + 1;
      return count == kFieldSlots;
    };
    std::size_t i = 1;
    if constexpr (kWordsWork) {
      for (; i + 8 <= n; i += 8) {
        for (std::uint64_t commas = BytesEqual(LoadWord(p + i), ','); commas != 0; commas &= commas - 1) {
          if (cut(i + static_cast<std::size_t>(std::countr_zero(commas)) / 8)) return count;
        }
      }
    }
    for (; i < n; ++i) {
      if (p[i] == ',' && cut(i)) return count;
    }
    // The last field ends at the "*"; with no "*" after it, at the end of the text.
    const std::size_t star = sentence.find('*', pos);
    slots[count++] = sentence.substr(pos, star == std::string_view::npos ? std::string_view::npos : star - pos);
    return count;
  });
}

SentenceCutter::SentenceCutter() { carry_[0] = '\0'; }

void SentenceCutter::reset() {
  carryLen_ = 0;
  lineEnd_ = 0;
  discarding_ = false;
}

void SentenceCutter::appendToRun(const char* from, const char* to) {
  constexpr std::size_t kLongest = static_cast<std::size_t>(kSentenceBufferSize) - 1;
  while (from < to && !discarding_) {
    const char* nul = static_cast<const char*>(std::memchr(from, '\0', static_cast<std::size_t>(to - from)));
    const char* stop = nul != nullptr ? nul : to;
    const std::size_t wanted = static_cast<std::size_t>(stop - from);
    const std::size_t take = std::min(wanted, kLongest - carryLen_);
    std::memcpy(carry_ + carryLen_, from, take);
    if (lineEnd_ == 0) {
      if (const void* lf = std::memchr(carry_ + carryLen_, '\n', take)) {
        lineEnd_ = static_cast<std::size_t>(static_cast<const char*>(lf) - carry_) + 1;
      }
    }
    carryLen_ += take;
    if (take < wanted) {
      // Longer than any sentence. A sentence that had ended before the noise is kept; the
      // rest is dropped up to the next "$".
      carryLen_ = lineEnd_;
      discarding_ = true;
      return;
    }
    from = nul != nullptr ? nul + 1 : to;
  }
}
