// Each button's commands sent to the simulated receiver, and its replies decoded: the
// receiver takes every command we send, and what it answers leads to the expected decisions.
// Time is the model's own: a pause advances it, nothing waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/epo_state_text.h"
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
  std::vector<PmtkReply> send(const CommandSequence& sequence) {
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
    if (!VerifyChecksum(sentence)) return;
    SplitFields(sentence, fields);
    if (RouteOf(fields[0]) != SentenceRoute::MtkReply) return;
    if (std::optional<PmtkReply> reply = DecodePmtkReply(fields)) replies.push_back(std::move(*reply));
  }

  SentenceCutter cutter;
  SentenceFields fields;
  std::vector<PmtkReply> replies;
};

sim::ModelOptions QuietOptions() {
  sim::ModelOptions options;
  options.startupMessage = false;
  options.startUtcMs = 1715752800000;  // 2024-05-15 06:00 UTC
  return options;
}

template <typename T>
std::vector<T> Only(const std::vector<PmtkReply>& replies) {
  std::vector<T> found;
  for (const PmtkReply& reply : replies) {
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
    EXPECT_EQ(updates[i].selectIndex, expectedSelection[i]) << updates[i].rateBoxName;
  }

  const auto fixReplies = port.send(SetFixPeriodCommands(4));
  const auto periods = Only<PmtkFixPeriod>(fixReplies);
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_EQ(FixPeriodReplyUpdate(periods[0].fixPeriodMs, false).cbFixIndex, 4);
  EXPECT_EQ(Only<PmtkDgpsMode>(fixReplies).size(), 1u) << "the DGPS query goes out above 100 ms";

  const auto dgpsReplies = port.send(SetDgpsModeCommands(DgpsModeOf(true, false, false)));
  const auto modes = Only<PmtkDgpsMode>(dgpsReplies);
  ASSERT_EQ(modes.size(), 1u);
  EXPECT_EQ(DgpsRadioToCheck(modes[0].mode), "rbWAAS");

  const auto defaultReplies = port.send(DefaultOutputRatesCommands());
  ASSERT_EQ(Only<PmtkOutputRates>(defaultReplies).size(), 1u);
  EXPECT_EQ(Only<PmtkOutputRates>(defaultReplies)[0].rateOf(NmeaKind::GSV), 1);

  // The receiver saw exactly our bodies.
  const std::vector<std::string> expectedBodies = {
      "PMTK314,1,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0", "PMTK414",
      "PMTK300,200,0,0,0,0", "PMTK401", "PMTK602", "PMTK400",
      "PMTK301,2", "PMTK401",
      "PMTK314,-1", "PMTK414"};
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
  EXPECT_EQ(update.label27Text, "AXN_1.30,0000,Kappa-32,1.0");
}

TEST(CommandsReceiver, RejectedSettingShowsFailure) {
  sim::ModelOptions options = QuietOptions();
  options.ackFlagAll = 2;
  SimulatedReceiverPort port(options);
  const auto acks = Only<PmtkAck>(port.send(SetDgpsModeCommands(0)));
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_FALSE(AckAccepted(acks[0]));
  EXPECT_EQ(AckMessage(acks[0]).title, "Error");
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
