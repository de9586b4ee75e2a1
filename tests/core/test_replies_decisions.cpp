// What each decoded reply does to the "Setup" tab: acknowledgement boxes, output-rate
// indicators and boxes, the fix-rate list and the controls that depend on it, the DGPS
// radio buttons, and the model check of the firmware reply.
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
  const char* indicator;
  const char* box;
  bool checked;
  int selectIndex;
};

TEST(RepliesDecisions, OutputRates) {
  struct Case {
    const char* legend;
    PmtkOutputRates reply;
    // In the order the controls are set: GGA, GSA, GSV, RMC, GLL, VTG, ZDA, MCHN.
    std::array<ExpectedRateRow, kNmeaKindCount> expected;
  };
  const Case cases[] = {
      {"GLL 1, RMC 1, VTG 0, GGA 1, GSA 1, GSV 5, ZDA 0, MCHN 0",
       RatesOf(1, 1, 0, 1, 5, 1, 0, 0),
       {{{"CheckBox1", "cbGGA", true, 1},
         {"CheckBox2", "cbGSA", true, 1},
         {"CheckBox3", "cbGSV", true, 5},
         {"CheckBox4", "cbRMC", true, 1},
         {"CheckBox5", "cbGLL", true, 1},
         {"CheckBox6", "cbVTG", false, 0},
         {"CheckBox7", "cbZDA", false, 0},
         {"CheckBox9", "cbMCHN", false, 0}}}},
      {"beyond 5 and negative: checked, no item selected",
       RatesOf(6, -1, 0, 0, 0, 100, 5, 2),
       {{{"CheckBox1", "cbGGA", true, -1},
         {"CheckBox2", "cbGSA", false, 0},
         {"CheckBox3", "cbGSV", false, 0},
         {"CheckBox4", "cbRMC", true, -1},
         {"CheckBox5", "cbGLL", true, -1},
         {"CheckBox6", "cbVTG", false, 0},
         {"CheckBox7", "cbZDA", true, 5},
         {"CheckBox9", "cbMCHN", true, 2}}}},
      {"all zero (also what a reply without fields gives): all unchecked, item 0",
       RatesOf(0, 0, 0, 0, 0, 0, 0, 0),
       {{{"CheckBox1", "cbGGA", false, 0},
         {"CheckBox2", "cbGSA", false, 0},
         {"CheckBox3", "cbGSV", false, 0},
         {"CheckBox4", "cbRMC", false, 0},
         {"CheckBox5", "cbGLL", false, 0},
         {"CheckBox6", "cbVTG", false, 0},
         {"CheckBox7", "cbZDA", false, 0},
         {"CheckBox9", "cbMCHN", false, 0}}}},
  };
  for (const Case& c : cases) {
    const auto updates = OutputRatesUpdate(c.reply);
    for (std::size_t i = 0; i < updates.size(); ++i) {
      EXPECT_EQ(updates[i].indicatorName, c.expected[i].indicator) << c.legend << ", row " << i;
      EXPECT_EQ(updates[i].rateBoxName, c.expected[i].box) << c.legend << ", row " << i;
      EXPECT_EQ(updates[i].checked, c.expected[i].checked) << c.legend << ", " << c.expected[i].box;
      EXPECT_EQ(updates[i].selectIndex, c.expected[i].selectIndex) << c.legend << ", " << c.expected[i].box;
    }
  }
}

TEST(RepliesDecisions, FixPeriod) {
  using Names = std::vector<std::string>;
  const Names plainOrder = {"rbWAAS", "rbRTCM", "btDGPSSet", "btDGQuery", "Button3"};
  const Names flaggedOrder = {"btDGPSSet", "btDGQuery", "rbDisable", "rbWAAS", "Button3"};
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
    EXPECT_EQ(update.cbFixIndex, row.index) << row.legend;
    const Names& order = row.tenHzModel ? flaggedOrder : plainOrder;
    ASSERT_EQ(update.controls.size(), order.size()) << row.legend;
    for (std::size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(update.controls[i].name, order[i]) << row.legend << ", position " << i;
      EXPECT_EQ(update.controls[i].enabled, row.enabled) << row.legend << ", " << order[i];
    }
  }
}

TEST(RepliesDecisions, DgpsRadio) {
  struct Row {
    const char* legend;
    long mode;
    std::optional<std::string_view> radio;
  };
  const Row rows[] = {
      {"none", 0, "rbDisable"},
      {"RTCM", 1, "rbRTCM"},
      {"SBAS", 2, "rbWAAS"},
      {"unknown mode changes nothing", 3, std::nullopt},
      {"negative changes nothing", -1, std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(DgpsRadioToCheck(row.mode), row.radio) << row.legend;
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
    EXPECT_EQ(update.entryChange, row.listed ? TenFixesEntryChange::AddAndEnableButton5
                                             : TenFixesEntryChange::RemoveAndDisableButton5)
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
    EXPECT_EQ(VersionReplyUpdate(row.reply, false).label27Text, row.label) << row.legend;
    EXPECT_EQ(VersionReplyUpdate(row.reply, true).label27Text, row.label) << row.legend;
  }
}

// The controls these replies touch, updated the way the window applies the decisions.
struct SetupTab {
  bool tenHzModel = false;
  bool button5Enabled = false;
  std::vector<std::string> cbFixItems{"1", "2", "3", "4", "5"};
  int cbFixIndex = -1;
  std::vector<std::pair<std::string, bool>> enableLog;  // every enable/disable, in order
  std::map<std::string, bool> enabled;
  std::string label27;

  void apply(const VersionUpdate& update) {
    if (update.setTenHzModel) tenHzModel = true;
    if (update.entryChange == TenFixesEntryChange::AddAndEnableButton5) {
      cbFixItems.push_back(std::string(kTenFixesEntry));
      button5Enabled = true;
    } else if (update.entryChange == TenFixesEntryChange::RemoveAndDisableButton5) {
      if (cbFixItems.size() > static_cast<std::size_t>(kTenFixesIndex)) {
        cbFixItems.erase(cbFixItems.begin() + kTenFixesIndex);
      }
      button5Enabled = false;
    }
    label27 = update.label27Text;
  }
  void apply(const FixPeriodUpdate& update) {
    if (update.cbFixIndex) {
      cbFixIndex = *update.cbFixIndex < static_cast<int>(cbFixItems.size()) ? *update.cbFixIndex : -1;
    }
    for (const ControlEnable& control : update.controls) {
      enableLog.emplace_back(std::string(control.name), control.enabled);
      enabled[std::string(control.name)] = control.enabled;
    }
  }
  void version(const char* model) { apply(VersionReplyUpdate({"AXN_1.30", "0000", model, "1.0"}, button5Enabled)); }
  void fixPeriod(long periodMs) { apply(FixPeriodReplyUpdate(periodMs, tenHzModel)); }
};

TEST(RepliesDecisions, FlaggedModelSequence) {
  SetupTab tab;
  tab.version("Kappa-32");
  EXPECT_TRUE(tab.tenHzModel);
  EXPECT_TRUE(tab.button5Enabled);
  ASSERT_EQ(tab.cbFixItems.size(), 6u);
  EXPECT_EQ(tab.cbFixItems[5], "10");

  tab.version("Kappa-32");
  EXPECT_EQ(tab.cbFixItems.size(), 6u) << "a second version reply adds nothing";

  tab.fixPeriod(100);
  EXPECT_EQ(tab.cbFixIndex, 5);
  const std::vector<std::pair<std::string, bool>> disabledInOrder = {
      {"btDGPSSet", false}, {"btDGQuery", false}, {"rbDisable", false}, {"rbWAAS", false}, {"Button3", false}};
  EXPECT_EQ(tab.enableLog, disabledInOrder);

  tab.enableLog.clear();
  tab.fixPeriod(1000);
  EXPECT_EQ(tab.cbFixIndex, 0);
  const std::vector<std::pair<std::string, bool>> enabledInOrder = {
      {"btDGPSSet", true}, {"btDGQuery", true}, {"rbDisable", true}, {"rbWAAS", true}, {"Button3", true}};
  EXPECT_EQ(tab.enableLog, enabledInOrder);

  // A later reply naming another listed model keeps the flag: nothing clears it in a run.
  tab.version("Kappa-31");
  EXPECT_TRUE(tab.tenHzModel);
  EXPECT_EQ(tab.cbFixItems.size(), 6u);
}

TEST(RepliesDecisions, PlainListedModelAtTenFixes) {
  SetupTab tab;
  tab.version("Kappa-31");
  EXPECT_FALSE(tab.tenHzModel);
  EXPECT_TRUE(tab.button5Enabled);
  tab.fixPeriod(100);
  EXPECT_EQ(tab.cbFixIndex, 5);
  for (const char* name : {"rbWAAS", "rbRTCM", "btDGPSSet", "btDGQuery", "Button3"}) {
    EXPECT_TRUE(tab.enabled[name]) << name;
  }
}

TEST(RepliesDecisions, UnlistedModelRemovesTheTenEntry) {
  SetupTab tab;
  tab.version("Kappa-40");
  ASSERT_EQ(tab.cbFixItems.size(), 6u);
  tab.version("MT3339");
  EXPECT_EQ(tab.cbFixItems.size(), 5u);
  EXPECT_FALSE(tab.button5Enabled);
  EXPECT_EQ(tab.label27, "AXN_1.30,0000,MT3339,1.0");
  // Now the "10" entry is gone: a 100 ms reply leaves cbFix without a selection.
  tab.cbFixIndex = 0;
  tab.fixPeriod(100);
  EXPECT_EQ(tab.cbFixIndex, -1);
}

}  // namespace
