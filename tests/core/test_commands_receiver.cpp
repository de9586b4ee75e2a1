// Each button's commands sent to the simulated receiver, and its replies decoded: the
// receiver takes every command we send, what it answers leads to the expected decisions, and
// the replies each sequence declares are the ones that come. Time is the model's own: a
// pause advances it, nothing waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands/epo_state_text.h"
#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"
#include "commands/receiver_commands.h"
#include "link/nmea_sentence.h"
#include "sim/receiver_model.h"

namespace {

// Writes go to the model; its answers are cut and decoded as the program would.
class SimulatedReceiverPort : public CommandPort {
 public:
  explicit SimulatedReceiverPort(sim::ModelOptions options) : model(std::move(options)) {}

  void write(const void* data, std::size_t size) override {
    for (const sim::OutChunk& chunk : model.receive(std::string_view(static_cast<const char*>(data), size), nowMs)) {
      cutter.feed(chunk.bytes.data(), chunk.bytes.size(), [this](std::string_view s) { handle(s); });
    }
  }
  void pauseMs(int ms) override { nowMs += ms; }

  // Runs a sequence and returns the replies it brought.
  std::vector<ReceiverReply> send(const CommandSequence& sequence) {
    replies.clear();
    RunCommandSequence(*this, sequence);
    cutter.feed("$", 1, [this](std::string_view s) { handle(s); });  // hand over the last one
    cutter.reset();
    return replies;
  }

  sim::ReceiverModel model;
  sim::SimMs nowMs = 0;

 private:
  void handle(std::string_view sentence) {
    SentenceOutcome outcome = session.handle(sentence);
    if (outcome.reply) replies.push_back(std::move(*outcome.reply));
  }

  SentenceCutter cutter;
  NmeaSession session;
  std::vector<ReceiverReply> replies;
};

sim::ModelOptions QuietOptions() {
  sim::ModelOptions options;
  options.startupMessage = false;
  options.startUtcMs = 1715752800000;  // 2024-05-15 06:00 UTC
  return options;
}

template <typename T>
std::vector<T> Only(const std::vector<ReceiverReply>& replies) {
  std::vector<T> found;
  for (const ReceiverReply& reply : replies) {
    if (const T* value = std::get_if<T>(&reply)) found.push_back(*value);
  }
  return found;
}

TEST(CommandsReceiver, SettingsAreAcknowledgedAndReadBack) {
  SimulatedReceiverPort port(QuietOptions());

  // Rate boxes: GLL 1, RMC 1, VTG 0, GSA 1, GSV 5, GGA 1, ZDA 0, MCHN 0.
  const auto rateReplies = port.send(SetOutputRatesCommands({1, 1, 0, 1, 5, 1, 0, 0}));
  const auto acks = Only<PmtkAck>(rateReplies);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].command, 314);
  EXPECT_EQ(AckMessage(acks[0]).text, "Set Successful!");
  const auto rates = Only<PmtkOutputRates>(rateReplies);
  ASSERT_EQ(rates.size(), 1u);
  const auto updates = OutputRatesUpdate(rates[0]);
  const int expectedSelection[] = {1, 1, 5, 1, 1, 0, 0, 0};  // GGA GSA GSV RMC GLL VTG ZDA MCHN
  for (std::size_t i = 0; i < updates.size(); ++i) {
    EXPECT_EQ(updates[i].rateIndex, expectedSelection[i]) << NmeaKindName(updates[i].kind);
  }

  const auto fixReplies = port.send(SetFixPeriodCommands(4));
  const auto periods = Only<PmtkFixPeriod>(fixReplies);
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_EQ(FixPeriodReplyUpdate(periods[0].fixPeriodMs, false).fixRateIndex, 4);
  EXPECT_EQ(Only<PmtkDgpsMode>(fixReplies).size(), 1u) << "the DGPS query goes out above 100 ms";

  const auto dgpsReplies = port.send(SetDgpsModeCommands(DgpsModeOf(true, false, false)));
  const auto modes = Only<PmtkDgpsMode>(dgpsReplies);
  ASSERT_EQ(modes.size(), 1u);
  EXPECT_EQ(DgpsModeOfReply(modes[0].mode), DgpsMode::Sbas);

  const auto defaultReplies = port.send(DefaultOutputRatesCommands());
  ASSERT_EQ(Only<PmtkOutputRates>(defaultReplies).size(), 1u);
  EXPECT_EQ(Only<PmtkOutputRates>(defaultReplies)[0].rateOf(NmeaKind::GSV), 1);

  // The receiver saw exactly our bodies.
  const std::vector<std::string> expectedBodies = {"PMTK314,1,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0",
                                                   "PMTK414",
                                                   "PMTK300,200,0,0,0,0",
                                                   "PMTK401",
                                                   "PMTK602",
                                                   "PMTK400",
                                                   "PMTK301,2",
                                                   "PMTK401",
                                                   "PMTK314,-1",
                                                   "PMTK414"};
  EXPECT_EQ(port.model.commands(), expectedBodies);
}

TEST(CommandsReceiver, QueriesOfTheConnectStepAndTheVersion) {
  SimulatedReceiverPort port(QuietOptions());
  const auto replies = port.send(ConnectQueryCommands());
  EXPECT_EQ(Only<PmtkOutputRates>(replies).size(), 1u);
  EXPECT_EQ(Only<PmtkFixPeriod>(replies).size(), 1u);
  const auto versions = Only<PmtkVersion>(replies);
  ASSERT_EQ(versions.size(), 1u);
  const VersionUpdate update = VersionReplyUpdate(versions[0], false);
  EXPECT_TRUE(update.listedModel);
  EXPECT_TRUE(update.setTenHzModel);
  EXPECT_EQ(update.firmwareText, "AXN_1.30,0000,Kappa-32,1.0");
}

// Each sequence declares the reply that accepts it and the replies of its closing queries
// (what torvikel-cli send waits for): exactly those come, and the accepting one accepts.
TEST(CommandsReceiver, DeclaredRepliesAreTheOnesThatCome) {
  struct Row {
    const char* legend;
    CommandSequence sequence;
  };
  const Row rows[] = {
      {"hot restart: the start-up notice", RestartCommands(RestartKind::Hot)},
      {"cold restart", RestartCommands(RestartKind::Cold)},
      {"output rates: acknowledged, then read back", SetOutputRatesCommands({1, 1, 0, 1, 5, 1, 0, 0})},
      {"default rates", DefaultOutputRatesCommands()},
      {"rate query", OutputRateQueryCommands()},
      {"fix rate 1 Hz: acknowledged, DGPS mode and period read back", SetFixPeriodCommands(0)},
      {"fix rate 10 Hz: no DGPS query", SetFixPeriodCommands(5)},
      {"fix-period query", FixPeriodQueryCommands()},
      {"maker's fix-rate reset: its own reply, then the period", FixRateResetCommands()},
      {"DGPS mode", SetDgpsModeCommands(DgpsMode::Sbas)},
      {"DGPS query: the companion query's reply is none of ours", DgpsQueryCommands()},
      {"firmware query", VersionQueryCommands()},
      {"EPO query", EpoStateQueryCommands()},
      {"EPO clear", EpoClearCommands()},
      {"connect step: four queries, four replies", ConnectQueryCommands()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = QuietOptions();
    options.startupMessage = true;  // as after every restart of a real receiver
    SimulatedReceiverPort port(options);
    const std::vector<ReceiverReply> replies = port.send(row.sequence);
    ASSERT_TRUE(row.sequence.acceptedBy.has_value());
    std::vector<ExpectedReply> declared = {*row.sequence.acceptedBy};
    declared.insert(declared.end(), row.sequence.followUps.begin(), row.sequence.followUps.end());
    for (const ExpectedReply& expected : declared) {
      const bool came = std::any_of(replies.begin(), replies.end(),
                                    [&](const ReceiverReply& reply) { return MatchReply(expected, reply).matched; });
      EXPECT_TRUE(came) << ReplyKindName(expected.kind) << " " << expected.ackCommand;
    }
    for (const ReceiverReply& reply : replies) {
      const bool wanted = std::any_of(declared.begin(), declared.end(), [&](const ExpectedReply& expected) {
        return MatchReply(expected, reply).matched;
      });
      EXPECT_TRUE(wanted) << "undeclared reply " << ReplyKindName(reply);
    }
    for (const ReceiverReply& reply : replies) {
      const ReplyMatch match = MatchReply(*row.sequence.acceptedBy, reply);
      EXPECT_TRUE(!match.matched || match.accepted) << "accepted";
    }
  }
}

TEST(CommandsReceiver, RejectedSettingShowsFailure) {
  sim::ModelOptions options = QuietOptions();
  options.ackFlagAll = 2;
  SimulatedReceiverPort port(options);
  const CommandSequence sequence = SetDgpsModeCommands(DgpsMode::None);
  const auto acks = Only<PmtkAck>(port.send(sequence));
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_FALSE(AckAccepted(acks[0]));
  EXPECT_EQ(AckMessage(acks[0]).title, "Error");
  const ReplyMatch match = MatchReply(*sequence.acceptedBy, acks[0]);
  EXPECT_TRUE(match.matched && !match.accepted) << "the declared acknowledgement, refusing";
}

TEST(CommandsReceiver, EpoClearThenQuery) {
  SimulatedReceiverPort port(QuietOptions());
  const EpoClock clock{1715752800, 0, 0};

  const auto before = Only<PmtkEpoState>(port.send(EpoStateQueryCommands()));
  ASSERT_EQ(before.size(), 1u);
  EXPECT_NE(EpoStateText(before[0], clock, IsoEpoTextFormat()), "NO EPO Data!");

  port.send(EpoClearCommands());
  const auto after = Only<PmtkEpoState>(port.send(EpoStateQueryCommands()));
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(EpoStateText(after[0], clock, IsoEpoTextFormat()), "NO EPO Data!");
}

}  // namespace
