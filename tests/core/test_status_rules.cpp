// Bandwidth estimate and fix timer: the figures the "Data Bandwidth" group shows for chosen
// outputs, the red threshold, the inputs that leave the estimate undefined, and the fix
// timer's counting and cap.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "link/status_rules.h"

namespace {

// Rate box indexes in NmeaKind order GLL RMC VTG GSA GSV GGA ZDA MCHN.
using Rates = std::array<int, kNmeaKindCount>;

struct EstimateCase {
  const char* legend;
  const char* baudText;
  Rates rates;
  int fixIndex;
  int fixRateHz;
  const char* text;
  bool red;
};

class BandwidthEstimate_ : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(BandwidthEstimate_, ShowsFigureAndColour) {
  const EstimateCase& c = GetParam();
  const auto result = EstimateBandwidth(c.baudText, c.rates, c.fixIndex);
  ASSERT_TRUE(result.has_value()) << c.legend;
  EXPECT_EQ(result->fixRateHz, c.fixRateHz) << c.legend;
  EXPECT_EQ(result->text, c.text) << c.legend;
  EXPECT_EQ(result->red, c.red) << c.legend;
}

//                                                   GLL RMC VTG GSA GSV GGA ZDA MCHN
INSTANTIATE_TEST_SUITE_P(
    Table, BandwidthEstimate_,
    ::testing::Values(
        EstimateCase{
            "4800, GGA GSA GSV RMC on, 1 Hz: 98.7 white", "4800", {0, 1, 0, 1, 1, 1, 0, 0}, 0, 1, "98.7", false},
        EstimateCase{"same at 2 Hz: 197.4 red", "4800", {0, 1, 0, 1, 1, 1, 0, 0}, 1, 2, "197.4", true},
        EstimateCase{"rate 5 instead of 1 changes nothing", "4800", {0, 5, 0, 5, 5, 5, 0, 0}, 0, 1, "98.7", false},
        EstimateCase{
            "a typed-over box (index -1) counts as on", "4800", {0, -1, 0, 1, 1, 1, 0, 0}, 0, 1, "98.7", false},
        EstimateCase{
            "exactly 100: RMC VTG GGA at 9600, 5 Hz, white", "9600", {0, 1, 1, 0, 0, 1, 0, 0}, 4, 5, "100.0", false},
        EstimateCase{"all off: 0.0", "115200", {0, 0, 0, 0, 0, 0, 0, 0}, 0, 1, "0.0", false},
        EstimateCase{"10 Hz item of the model reply", "115200", {0, 1, 0, 1, 1, 1, 0, 0}, 5, 10, "42.0", false},
        EstimateCase{"14400 row, everything on", "14400", {1, 1, 1, 1, 1, 1, 1, 1}, 0, 1, "57.5", false},
        EstimateCase{"57600 row: GSV and MCHN", "57600", {0, 0, 0, 0, 1, 0, 0, 1}, 2, 3, "24.0", false},
        EstimateCase{"38400 row: GLL ZDA at 4 Hz", "38400", {1, 0, 0, 0, 0, 0, 1, 0}, 3, 4, "11.6", false},
        EstimateCase{"19200 row, everything at 10 Hz: far beyond the line",
                     "19200",
                     {1, 1, 1, 1, 1, 1, 1, 1},
                     5,
                     10,
                     "431.0",
                     true}));

struct UndefinedCase {
  const char* legend;
  const char* baudText;
  int fixIndex;
};

class BandwidthUndefined : public ::testing::TestWithParam<UndefinedCase> {};

TEST_P(BandwidthUndefined, GivesNoEstimate) {
  const UndefinedCase& c = GetParam();
  EXPECT_FALSE(EstimateBandwidth(c.baudText, Rates{1, 1, 1, 1, 1, 1, 1, 1}, c.fixIndex).has_value()) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(Inputs, BandwidthUndefined,
                         ::testing::Values(UndefinedCase{"fix-rate box without selection, as at start", "115200", -1},
                                           UndefinedCase{"fix-rate index past the table", "115200", 6},
                                           UndefinedCase{"baud not in the table", "2400", 0},
                                           UndefinedCase{"baud text empty", "", 0},
                                           UndefinedCase{"baud text not a number", "fast", 0},
                                           UndefinedCase{"baud text with trailing letters", "4800x", 0},
                                           UndefinedCase{"baud text of a huge number", "99999999999999999999", 0}));

TEST(BandwidthEstimate, RowsFollowTheTable) {
  // Each row's GSV entry, the largest of every row.
  const std::pair<int, float> gsv[] = {{4800, 2582.4f},  {9600, 2582.4f},  {14400, 2577.6f}, {19200, 2572.8f},
                                       {38400, 2572.8f}, {57600, 2592.0f}, {115200, 2534.4f}};
  for (const auto& [baud, bits] : gsv) {
    const auto row = BandwidthRow(baud);
    ASSERT_TRUE(row.has_value()) << baud;
    EXPECT_EQ((*row)[IndexOf(NmeaKind::GSV)], bits) << baud;
  }
  EXPECT_FALSE(BandwidthRow(0).has_value());
}

struct TickCase {
  const char* legend;
  const char* lastFixMode;
  int before;
  int after;
};

TEST(FixTimerTick, CountsWithoutA3DFixUpToTheCap) {
  const TickCase cases[] = {
      {"before the first GSA the mode is empty: counts", "", 0, 1},
      {"no fix counts", "No Fix", 74, 75},
      {"2D counts", "2D", 10, 11},
      {"3D stops the count and keeps it", "3D", 42, 42},
      {"a near-3D text is not 3D", "3d", 5, 6},
      {"one below the cap reaches it", "No Fix", 999998, 999999},
      {"at the cap it stays", "No Fix", 999999, 999999},
  };
  for (const auto& c : cases) {
    ReceiverState state;
    state.lastFixMode = c.lastFixMode;
    state.fixTimerSeconds = c.before;
    FixTimerTick(state);
    EXPECT_EQ(state.fixTimerSeconds, c.after) << c.legend;
  }
}

TEST(FixTimerTick, ResumesAfterTheFixDropsBack) {
  ReceiverState state;
  const char* modes[] = {"No Fix", "2D", "3D", "3D", "2D", "No Fix"};
  for (const char* mode : modes) {
    state.lastFixMode = mode;
    FixTimerTick(state);
  }
  EXPECT_EQ(state.fixTimerSeconds, 4);
}

}  // namespace
