// Bandwidth estimate and fix timer tick.
//
// Thread rule: pure functions; see the header.
#include "link/status_rules.h"

#include <climits>
#include <cstdio>

#include "link/number_text.h"

namespace {

struct BandwidthTableRow {
  int baudRate;
  std::array<float, kNmeaKindCount> bits;  // indexed by NmeaKind
};

// Measured line bits per output of each sentence type, one row per baud rate.
constexpr BandwidthTableRow kBandwidthTable[] = {
    {4800, {600.0f, 748.8f, 408.0f, 648.0f, 2582.4f, 758.4f, 499.2f, 2030.4f}},
    {9600, {604.8f, 748.8f, 412.8f, 652.8f, 2582.4f, 758.4f, 499.2f, 2025.6f}},
    {14400, {604.8f, 748.8f, 403.2f, 648.0f, 2577.6f, 763.2f, 504.0f, 2030.4f}},
    {19200, {595.2f, 748.8f, 403.2f, 652.8f, 2572.8f, 768.0f, 499.2f, 2035.2f}},
    {38400, {614.4f, 768.0f, 422.4f, 652.8f, 2572.8f, 768.0f, 499.2f, 2035.2f}},
    {57600, {576.0f, 748.8f, 403.2f, 633.6f, 2592.0f, 748.8f, 518.4f, 2016.0f}},
    {115200, {576.0f, 806.4f, 460.8f, 691.2f, 2534.4f, 806.4f, 460.8f, 2073.6f}},
};

constexpr int kFixRates[] = {1, 2, 3, 4, 5, 10};

}  // namespace

std::optional<std::array<float, kNmeaKindCount>> BandwidthRow(int baudRate) {
  for (const BandwidthTableRow& row : kBandwidthTable)
    if (row.baudRate == baudRate) return row.bits;
  return std::nullopt;
}

int BaudNumberOf(std::string_view baudText) {
  // Only blanks and tabs may lead; any other C blank before the number makes it none.
  const std::size_t first = baudText.find_first_not_of(" \t");
  if (first != std::string_view::npos && IsCSpace(baudText[first])) return 0;
  const std::optional<long> value = WholeDecimalOf(baudText);
  if (!value || *value > INT_MAX || *value < -INT_MAX) return 0;  // not a number we can use
  return static_cast<int>(*value);
}

std::optional<int> FixRateHzOf(int fixIndex) {
  if (fixIndex < 0 || fixIndex >= static_cast<int>(std::size(kFixRates))) return std::nullopt;
  return kFixRates[fixIndex];
}

std::optional<BandwidthEstimate> EstimateBandwidth(std::string_view baudText,
                                                   const std::array<int, kNmeaKindCount>& rateIndex, int fixIndex) {
  const int baud = BaudNumberOf(baudText);
  const auto row = BandwidthRow(baud);
  const auto fixRate = FixRateHzOf(fixIndex);
  if (!row || !fixRate) return std::nullopt;

  // Single precision throughout and in this order: which way a figure near a .x5 border
  // rounds depends on it.
  float sum = 0.0f;
  for (int i = 0; i < kNmeaKindCount; ++i)
    sum += rateIndex[static_cast<std::size_t>(i)] != 0 ? (*row)[static_cast<std::size_t>(i)] : 0.0f;
  const float estimate = sum * 100.0f * static_cast<float>(*fixRate) / static_cast<float>(baud);

  BandwidthEstimate result;
  result.fixRateHz = *fixRate;
  result.estimate = estimate;
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(estimate));
  result.text = text;
  result.red = estimate > 100.0f;
  return result;
}

void FixTimerTick(ReceiverState& state) {
  if (state.lastFixMode != "3D" && state.fixTimerSeconds < kFixTimerMaxSeconds) ++state.fixTimerSeconds;
}
