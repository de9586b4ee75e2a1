// libFuzzer target for what a user writes as a command: any text as the lines of a settings
// file, each read as the words of a send command (the table config apply and send share),
// and each line as the body of a raw command. Whatever is accepted must go out as sentences
// framed as every command is: "$", a body of printable ASCII without "$" or "*", "*", the
// XOR of the body in two upper-case hex digits, CR LF, at most 82 bytes.
// Any broken invariant aborts, so the fuzzer reports it like a crash.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/send_commands.h"
#include "commands/receiver_settings.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// One step's bytes: a framed sentence (some commands add a NUL byte after it, as the window's
// buttons do), or nothing (a pause alone).
void RequireFramed(const std::string& bytes) {
  if (bytes.empty()) return;
  std::string_view s(bytes);
  if (s.back() == '\0') s.remove_suffix(1);
  Require(s.size() >= 6 && s.size() <= 82, "a sentence's length");
  Require(s.front() == '$' && s.substr(s.size() - 2) == "\r\n", "framed by $ and CR LF");
  const std::size_t star = s.size() - 5;
  Require(s[star] == '*', "the checksum's star");
  unsigned sum = 0;
  for (std::size_t i = 1; i < star; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    Require(c >= 0x20 && c < 0x7F && c != '$' && c != '*', "a body of printable ASCII without $ or *");
    sum ^= c;
  }
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum);
  Require(s.substr(star + 1, 2) == std::string_view(digits, 2), "the checksum");
}

void RequireAllFramed(const CommandSequence& sequence) {
  for (const CommandStep& step : sequence.steps) RequireFramed(step.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::string problem;
    if (const std::optional<CommandSequence> raw = RawCommands(line, "", &problem)) {
      RequireAllFramed(*raw);
      Require(!raw->steps.empty() && raw->steps.front().bytes.find(line) == 1, "the body sent as written");
    } else {
      Require(!problem.empty(), "a refused body says why");
    }
    std::istringstream wordsIn(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    for (std::string word; wordsIn >> word;) words.push_back(word);
    if (words.empty()) continue;
    std::string error;
    const SendCommand* command = nullptr;
    if (const std::optional<CommandSequence> planned = PlanSendWords(words, "", &error, &command)) {
      RequireAllFramed(*planned);
    } else {
      Require(!error.empty(), "a refused line says why");
    }
  }
  return 0;
}
