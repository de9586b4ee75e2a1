// The report's figures as one JSON object, for scripts and for comparing receivers: the same
// digits the drawings print.
//
// Thread rule: pure.
#pragma once

#include <string>
#include <string_view>

#include "report/survey.h"

// Pretty-printed, two spaces a level, ending in a line end. `logName` is UTF-8.
std::string ReportJson(const Survey& survey, std::string_view logName);
