// The statistics of a scatter of fixes about their mean: standard deviations, CEP50 and CEP95
// (the radii about the mean that hold half and 95 % of the fixes: the fix at that rank, counted
// from the nearest), and 2DRMS (twice the root mean square of the horizontal distances).
// Every fix counts; nothing is binned or sampled.
//
// Thread rule: pure function.
#pragma once

#include <optional>
#include <vector>

#include "report/survey.h"

// The distance rank of a fraction among `count` fixes: the ceil(fraction * count)-th nearest.
std::size_t RankOf(double fraction, std::size_t count);

// The horizontal statistics of `points` (metres east and north of one origin); mean position,
// heights and altitudes are left for the caller, who knows the origin. Nothing for fewer than
// two points: a single fix has no scatter.
std::optional<ScatterStatistics> HorizontalStatistics(const std::vector<ScatterPoint>& points);
