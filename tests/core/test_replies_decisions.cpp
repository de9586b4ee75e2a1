// What each decoded reply means for the receiver's settings: acknowledgement boxes, each
// sentence type's rate, the fix rate and the functions that depend on it, the DGPS mode, and
// the model check of the firmware reply.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "commands/pmtk_replies.h"

namespace {

TEST(RepliesDecisions, AcknowledgementBoxes) {
  struct Row {
    const char* legend;
    long flag;
    bool accepted;
    const char* text;
    const char* title;
  };
  const Row rows[] = {
      {"flag 3: accepted", 3, true, "Set Successful!", "Send ok"},
      {"flag 2: failed", 2, false, "Set Failed!", "Error"},
      {"flag 1: unsupported", 1, false, "Set Failed!", "Error"},
      {"flag 0: invalid", 0, false, "Set Failed!", "Error"},
      {"unknown flag", 4, false, "Set Failed!", "Error"},
      {"negative flag", -3, false, "Set Failed!", "Error"},
  };
  for (const Row& row : rows) {
    const PmtkAck ack{314, row.flag};
    EXPECT_EQ(AckAccepted(ack), row.accepted) << row.legend;
    const MessageBoxText box = AckMessage(ack);
    EXPECT_EQ(box.text, row.text) << row.legend;
    EXPECT_EQ(box.title, row.title) << row.legend;
  }
}

PmtkOutputRates RatesOf(long gll, long rmc, long vtg, long gsa, long gsv, long gga, long zda, long mchn) {
  PmtkOutputRates rates;
  rates.rates = {gll, rmc, vtg, gsa, gsv, gga, zda, mchn};
  return rates;
}

struct ExpectedRateRow {
  NmeaKind kind;
  bool on;
  int rateIndex;
};

TEST(RepliesDecisions, OutputRates) {
  struct Case {
    const char* legend;
    PmtkOutputRates reply;
    // In the order they are applied: GGA, GSA, GSV, RMC, GLL, VTG, ZDA, MCHN.
    std::array<ExpectedRateRow, kNmeaKindCount> expected;
  };
  const Case cases[] = {
      {"GLL 1, RMC 1, VTG 0, GGA 1, GSA 1, GSV 5, ZDA 0, MCHN 0",
       RatesOf(1, 1, 0, 1, 5, 1, 0, 0),
       {{{NmeaKind::GGA, true, 1},
         {NmeaKind::GSA, true, 1},
         {NmeaKind::GSV, true, 5},
         {NmeaKind::RMC, true, 1},
         {NmeaKind::GLL, true, 1},
         {NmeaKind::VTG, false, 0},
         {NmeaKind::ZDA, false, 0},
         {NmeaKind::MCHN, false, 0}}}},
      {"beyond 5 and negative: checked, no item selected",
       RatesOf(6, -1, 0, 0, 0, 100, 5, 2),
       {{{NmeaKind::GGA, true, -1},
         {NmeaKind::GSA, false, 0},
         {NmeaKind::GSV, false, 0},
         {NmeaKind::RMC, true, -1},
         {NmeaKind::GLL, true, -1},
         {NmeaKind::VTG, false, 0},
         {NmeaKind::ZDA, true, 5},
         {NmeaKind::MCHN, true, 2}}}},
      {"all zero (also what a reply without fields gives): all unchecked, item 0",
       RatesOf(0, 0, 0, 0, 0, 0, 0, 0),
       {{{NmeaKind::GGA, false, 0},
         {NmeaKind::GSA, false, 0},
         {NmeaKind::GSV, false, 0},
         {NmeaKind::RMC, false, 0},
         {NmeaKind::GLL, false, 0},
         {NmeaKind::VTG, false, 0},
         {NmeaKind::ZDA, false, 0},
         {NmeaKind::MCHN, false, 0}}}},
  };
  for (const Case& c : cases) {
    const auto updates = OutputRatesUpdate(c.reply);
    for (std::size_t i = 0; i < updates.size(); ++i) {
      const std::string_view name = NmeaKindName(c.expected[i].kind);
      EXPECT_EQ(updates[i].kind, c.expected[i].kind) << c.legend << ", row " << i;
      EXPECT_EQ(updates[i].on, c.expected[i].on) << c.legend << ", " << name;
      EXPECT_EQ(updates[i].rateIndex, c.expected[i].rateIndex) << c.legend << ", " << name;
    }
  }
}

TEST(RepliesDecisions, FixPeriod) {
  using enum ReceiverFunction;
  using Functions = std::vector<ReceiverFunction>;
  const Functions plainOrder = {DgpsSbasChoice, DgpsRtcmChoice, DgpsSet, DgpsQuery, EpoUpdate};
  const Functions flaggedOrder = {DgpsSet, DgpsQuery, DgpsNoneChoice, DgpsSbasChoice, EpoUpdate};
  struct Row {
    const char* legend;
    long periodMs;
    bool tenHzModel;
    std::optional<int> index;
    bool enabled;
  };
  const Row rows[] = {
      {"1000 selects \"1\"", 1000, false, 0, true},
      {"500 selects \"2\"", 500, false, 1, true},
      {"333 selects \"3\"", 333, false, 2, true},
      {"250 selects \"4\"", 250, false, 3, true},
      {"200 selects \"5\"", 200, false, 4, true},
      {"100 selects \"10\" and still enables on a plain model", 100, false, 5, true},
      {"150: no selection change, but enables", 150, false, std::nullopt, true},
      {"99: below 100 disables on a plain model", 99, false, std::nullopt, false},
      {"0 (missing field): disables on a plain model", 0, false, std::nullopt, false},
      {"flagged model at exactly 100: disables", 100, true, 5, false},
      {"flagged model at 1000: enables", 1000, true, 0, true},
      {"flagged model below 100: enables (only 100 blocks)", 50, true, std::nullopt, true},
  };
  for (const Row& row : rows) {
    const FixPeriodUpdate update = FixPeriodReplyUpdate(row.periodMs, row.tenHzModel);
    EXPECT_EQ(update.fixRateIndex, row.index) << row.legend;
    const Functions& order = row.tenHzModel ? flaggedOrder : plainOrder;
    ASSERT_EQ(update.functions.size(), order.size()) << row.legend;
    for (std::size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(update.functions[i].function, order[i]) << row.legend << ", position " << i;
      EXPECT_EQ(update.functions[i].enabled, row.enabled) << row.legend << ", position " << i;
    }
  }
}

TEST(RepliesDecisions, DgpsMode) {
  struct Row {
    const char* legend;
    long mode;
    std::optional<DgpsMode> shown;
  };
  const Row rows[] = {
      {"none", 0, DgpsMode::None},
      {"RTCM", 1, DgpsMode::Rtcm},
      {"SBAS", 2, DgpsMode::Sbas},
      {"unknown mode changes nothing", 3, std::nullopt},
      {"negative changes nothing", -1, std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(DgpsModeOfReply(row.mode), row.shown) << row.legend;
}

TEST(RepliesDecisions, ModelTable) {
  struct Row {
    const char* legend;
    const char* model;
    bool listed;
    bool tenHz;
  };
  const Row rows[] = {
      {"Kappa-20: listed, flagged", "Kappa-20", true, true},
      {"Kappa-31: listed", "Kappa-31", true, false},
      {"Kappa-32: listed, flagged", "Kappa-32", true, true},
      {"Kappa-33: listed", "Kappa-33", true, false},
      {"Kappa-40: listed", "Kappa-40", true, false},
      {"a field that begins with a name counts", "Kappa-32B rev2", true, true},
      {"shorter than a name", "Kappa-3", false, false},
      {"case matters", "kappa-32", false, false},
      {"another model", "MT3339", false, false},
      {"empty", "", false, false},
  };
  for (const Row& row : rows) {
    const VersionUpdate update = VersionReplyUpdate({"AXN_1.30", "0000", row.model, "1.0"}, false);
    EXPECT_EQ(update.listedModel, row.listed) << row.legend;
    EXPECT_EQ(update.setTenHzModel, row.tenHz) << row.legend;
    EXPECT_EQ(update.entryChange, row.listed ? TenFixesEntryChange::Offer : TenFixesEntryChange::Withdraw)
        << row.legend;
  }
}

TEST(RepliesDecisions, FirmwareLabelText) {
  struct Row {
    const char* legend;
    PmtkVersion reply;
    const char* label;
  };
  const Row rows[] = {
      {"four fields joined without blanks", {"AXN_1.30", "0000", "Kappa-32", "1.0"}, "AXN_1.30,0000,Kappa-32,1.0"},
      {"unlisted model still shown", {"M-core_2.02", "2F0D", "MT3339", "0001"}, "M-core_2.02,2F0D,MT3339,0001"},
      {"empty fourth field leaves a trailing comma", {"AXN_1.30", "0000", "Kappa-31", ""}, "AXN_1.30,0000,Kappa-31,"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(VersionReplyUpdate(row.reply, false).firmwareText, row.label) << row.legend;
    EXPECT_EQ(VersionReplyUpdate(row.reply, true).firmwareText, row.label) << row.legend;
  }
}

// The settings these replies touch, updated the way a front end applies the meanings.
struct Settings {
  bool tenHzModel = false;
  bool fixRateResetOffered = false;
  std::vector<std::string> fixRates{"1", "2", "3", "4", "5"};
  int fixRateIndex = -1;
  std::vector<std::pair<ReceiverFunction, bool>> enableLog;  // every offer/withdrawal, in order
  std::map<ReceiverFunction, bool> enabled;
  std::string firmware;

  void apply(const VersionUpdate& update) {
    if (update.setTenHzModel) tenHzModel = true;
    if (update.entryChange == TenFixesEntryChange::Offer) {
      fixRates.push_back(std::string(kTenFixesEntry));
      fixRateResetOffered = true;
    } else if (update.entryChange == TenFixesEntryChange::Withdraw) {
      if (fixRates.size() > static_cast<std::size_t>(kTenFixesIndex)) fixRates.erase(fixRates.begin() + kTenFixesIndex);
      fixRateResetOffered = false;
    }
    firmware = update.firmwareText;
  }
  void apply(const FixPeriodUpdate& update) {
    if (update.fixRateIndex) {
      fixRateIndex = *update.fixRateIndex < static_cast<int>(fixRates.size()) ? *update.fixRateIndex : -1;
    }
    for (const FunctionEnable& function : update.functions) {
      enableLog.emplace_back(function.function, function.enabled);
      enabled[function.function] = function.enabled;
    }
  }
  void version(const char* model) {
    apply(VersionReplyUpdate({"AXN_1.30", "0000", model, "1.0"}, fixRateResetOffered));
  }
  void fixPeriod(long periodMs) { apply(FixPeriodReplyUpdate(periodMs, tenHzModel)); }
};

TEST(RepliesDecisions, FlaggedModelSequence) {
  using enum ReceiverFunction;
  Settings tab;
  tab.version("Kappa-32");
  EXPECT_TRUE(tab.tenHzModel);
  EXPECT_TRUE(tab.fixRateResetOffered);
  ASSERT_EQ(tab.fixRates.size(), 6u);
  EXPECT_EQ(tab.fixRates[5], "10");

  tab.version("Kappa-32");
  EXPECT_EQ(tab.fixRates.size(), 6u) << "a second version reply adds nothing";

  tab.fixPeriod(100);
  EXPECT_EQ(tab.fixRateIndex, 5);
  const std::vector<std::pair<ReceiverFunction, bool>> disabledInOrder = {
      {DgpsSet, false}, {DgpsQuery, false}, {DgpsNoneChoice, false}, {DgpsSbasChoice, false}, {EpoUpdate, false}};
  EXPECT_EQ(tab.enableLog, disabledInOrder);

  tab.enableLog.clear();
  tab.fixPeriod(1000);
  EXPECT_EQ(tab.fixRateIndex, 0);
  const std::vector<std::pair<ReceiverFunction, bool>> enabledInOrder = {
      {DgpsSet, true}, {DgpsQuery, true}, {DgpsNoneChoice, true}, {DgpsSbasChoice, true}, {EpoUpdate, true}};
  EXPECT_EQ(tab.enableLog, enabledInOrder);

  // A later reply naming another listed model keeps the flag: nothing clears it in a run.
  tab.version("Kappa-31");
  EXPECT_TRUE(tab.tenHzModel);
  EXPECT_EQ(tab.fixRates.size(), 6u);
}

TEST(RepliesDecisions, PlainListedModelAtTenFixes) {
  using enum ReceiverFunction;
  Settings tab;
  tab.version("Kappa-31");
  EXPECT_FALSE(tab.tenHzModel);
  EXPECT_TRUE(tab.fixRateResetOffered);
  tab.fixPeriod(100);
  EXPECT_EQ(tab.fixRateIndex, 5);
  for (const ReceiverFunction function : {DgpsSbasChoice, DgpsRtcmChoice, DgpsSet, DgpsQuery, EpoUpdate}) {
    EXPECT_TRUE(tab.enabled[function]) << static_cast<int>(function);
  }
}

TEST(RepliesDecisions, UnlistedModelRemovesTheTenEntry) {
  Settings tab;
  tab.version("Kappa-40");
  ASSERT_EQ(tab.fixRates.size(), 6u);
  tab.version("MT3339");
  EXPECT_EQ(tab.fixRates.size(), 5u);
  EXPECT_FALSE(tab.fixRateResetOffered);
  EXPECT_EQ(tab.firmware, "AXN_1.30,0000,MT3339,1.0");
  // Now the "10" entry is gone: a 100 ms reply leaves no fix rate shown.
  tab.fixRateIndex = 0;
  tab.fixPeriod(100);
  EXPECT_EQ(tab.fixRateIndex, -1);
}

}  // namespace
