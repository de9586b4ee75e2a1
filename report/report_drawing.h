// The report as pictures: the scatter alone as an SVG document, and the whole report as one
// HTML page that needs nothing else (inline SVG and CSS, no script, nothing fetched).
//
// Thread rule: pure functions of the survey.
#pragma once

#include <string>

#include "report/survey.h"

struct ReportTitle {
  std::string logName;  // the log's file name as the user gave it (UTF-8)
  std::string maker;    // "torvikel-cli 1.2.24"
};

// An SVG document of its own (XML declaration, xmlns), the same drawing the page shows.
std::string ScatterSvg(const Survey& survey);
// The whole report: a self-contained HTML5 page.
std::string ReportHtml(const Survey& survey, const ReportTitle& title);
