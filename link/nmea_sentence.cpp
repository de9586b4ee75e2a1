// The per-sentence steps before any parser runs: the checksum test, the field split and the
// dispatch table, plus the cutter's bounded carry-over. Everything here works on views of
// the sentence text and allocates nothing.
//
// Thread rule: reentrant free functions; a SentenceCutter is owned by one reader.
#include "link/nmea_sentence.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/number_text.h"

namespace {

// Characters from..to of the address, counted from 1, equal want; a substring that would run
// past the end of the address is shorter than want and so never matches.
bool CharsAre(std::string_view address, std::size_t from, std::string_view want) {
  return address.size() >= from - 1 + want.size() && address.substr(from - 1, want.size()) == want;
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
  unsigned sum = 0;
  std::size_t i = 0;
  const std::size_t n = sentence.size();
  for (; i < n; ++i) {
    const char c = sentence[i];
    if (c == '*') break;
    if (c == '\0') return false;  // the text ends here, before any "*"
    if (c != '$') sum ^= static_cast<unsigned char>(c);
  }
  if (i == n) return false;
  unsigned written = 0;
  const std::string_view digits = sentence.substr(i + 1);
  if (!ScanHexWidth2(digits.substr(0, std::min(digits.size(), digits.find('\0'))), written)) {
    return false;
  }
  return written == sum;
}

void SplitFields(std::string_view sentence, SentenceFields& fields) {
  fields.clear();
  if (sentence.empty()) return;
  std::size_t pos = 1;  // behind the "$"
  while (fields.count() < kFieldSlots) {
    const std::size_t comma = sentence.find(',', pos);
    if (comma != std::string_view::npos) {
      fields.push(sentence.substr(pos, comma - pos));
      pos = comma + 1;
      continue;
    }
    // The last field ends at the "*"; with no "*" after it, at the end of the text.
    const std::size_t star = sentence.find('*', pos);
    fields.push(sentence.substr(pos, star == std::string_view::npos ? std::string_view::npos : star - pos));
    break;
  }
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
