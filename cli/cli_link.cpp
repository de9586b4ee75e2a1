// The receiver commands' shared beginning.
//
// Thread rule: main thread.
#include "cli/cli_link.h"

#include <string>

std::optional<ParsedArgs> ParseReceiverCommand(const CliArgs& args, std::string_view command,
                                               std::vector<OptionDef> ownOptions, const char* help, int* exitCode) {
  ownOptions.insert(ownOptions.begin(), {kPortOption, kBaudOption});
  ownOptions.push_back(kHelpOption);
  std::string error;
  std::optional<ParsedArgs> parsed = ParseArgs(args, ownOptions, &error);
  if (!parsed) {
    *exitCode = UsageError(command, error);
    return std::nullopt;
  }
  if (parsed->has("--help")) {
    *exitCode = WriteOut(help) ? kExitSuccess : kExitFailure;
    return std::nullopt;
  }
  return parsed;
}

LinkOpenRequest ReceiverRequest(const ParsedArgs& parsed) {
  LinkOpenRequest request;
  request.portText = parsed.value("--port", kDefaultPortText);
  request.baudText = parsed.value("--baud", kDefaultBaudText);
  request.allowDevicePath = true;
  request.stopRequested = StopRequestedNow;
  return request;
}

std::unique_ptr<LinkSession> OpenReceiver(const LinkOpenRequest& request) {
  LinkError error;
  std::unique_ptr<LinkSession> link = LinkSession::open(request, &error);
  if (!link) {
    PrintLinkError(error);
    return nullptr;
  }
  if (link->baudWasFound()) {
    PrintError(PortDisplayName(request.portText, link->devicePath()) + " talks at " + std::to_string(link->baud()) +
               " baud");
  }
  return link;
}

bool ReportedEnd(const ExchangeResult& result, double timeoutSec, std::string (*refused)(const PmtkAck&)) {
  switch (result.end) {
    case ExchangeEnd::Accepted: return true;
    case ExchangeEnd::Refused:
      PrintError("the receiver refused the command: " + (result.refusal ? refused(*result.refusal) : "refused"));
      return false;
    case ExchangeEnd::NoReply: PrintError("no reply from the receiver within " + SecondsText(timeoutSec)); return false;
    case ExchangeEnd::Stopped: PrintError("interrupted before the receiver replied"); return false;
    case ExchangeEnd::Lost: PrintLinkError(*result.lost); return false;
  }
  return false;
}
