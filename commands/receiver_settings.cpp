// Command sequences beyond the buttons. See receiver_settings.h.
//
// Thread rule: pure.
#include "commands/receiver_settings.h"

#include <algorithm>
#include <cctype>

#include "commands/pmtk_replies.h"

namespace {

constexpr std::size_t kLongestAddress = 16;  // "PMTK514", "GPGGA", "PZRN001"

ExpectedReply AckOf(long command) { return {kReplyKindOf<PmtkAck>, command}; }

}  // namespace

std::optional<long> PmtkCommandNumber(std::string_view body) { return PmtkReplyNumber(body.substr(0, body.find(','))); }

std::optional<CommandSequence> RawCommands(std::string_view body, std::string_view expectAddress,
                                           std::string* problem) {
  if (std::optional<std::string> why = CommandBodyProblem(body)) {
    *problem = *why;
    return std::nullopt;
  }
  const std::optional<long> number = PmtkCommandNumber(body);
  CommandSequence sequence{{{FrameCommand("$" + std::string(body)), 0}}, std::nullopt, {}};
  if (expectAddress.empty()) {
    if (!number) {
      *problem = "\"" + std::string(body.substr(0, body.find(','))) +
                 "\" is no PMTK command, so no acknowledgement answers it: name its reply with --expect";
      return std::nullopt;
    }
    sequence.acceptedBy = AckOf(*number);
    return sequence;
  }
  std::string_view address = expectAddress;
  if (address.front() == '$') address.remove_prefix(1);
  const bool wellFormed = !address.empty() && address.size() <= kLongestAddress &&
                          std::all_of(address.begin(), address.end(),
                                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
  if (!wellFormed) {
    *problem = "--expect takes the address of the reply, such as PMTK514, not \"" + std::string(expectAddress) + "\"";
    return std::nullopt;
  }
  ExpectedReply reply;
  reply.ackCommand = number.value_or(0);
  reply.address = std::string(address);
  sequence.acceptedBy = reply;
  return sequence;
}

std::optional<std::uint32_t> NmeaBaudRateNamed(std::string_view text) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const auto value = static_cast<std::uint32_t>(std::stoul(std::string(text)));
  for (const std::uint32_t rate : kNmeaBaudRates) {
    if (rate == value) return rate;
  }
  return std::nullopt;
}

std::string NmeaBaudRatesText() {
  std::string text;
  for (std::size_t i = 0; i < kNmeaBaudRates.size(); ++i) {
    if (i > 0) text += i + 1 == kNmeaBaudRates.size() ? " or " : ", ";
    text += std::to_string(kNmeaBaudRates[i]);
  }
  return text;
}

CommandSequence BaudRateCommands(std::uint32_t baud) {
  return {{{FrameCommand("$PMTK251," + std::to_string(baud)), 0}}, AckOf(251), {}};
}
