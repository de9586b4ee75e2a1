// The drawings the report page is made of. Each is an <svg> element with its own xmlns, so
// that an XML declaration before it makes a document of it; when the survey holds nothing to
// draw, there is no element and the sentence says why instead of an empty frame.
//
// Thread rule: pure functions of the survey.
#pragma once

#include <string>

#include "report/survey.h"

struct Drawing {
  std::string svg;     // the <svg> element; empty when there is nothing to draw
  std::string remark;  // one sentence of plain text (not yet escaped): why nothing is drawn, or
                       // what the drawing lacks; may be empty
};

// The position scatter around the mean: fixes by kind, CEP50, CEP95 and 2DRMS circles.
// remarkInside: the remark is also written under the plot (for the scatter as a file of its own).
Drawing ScatterDrawing(const Survey& survey, bool remarkInside);
// Time series on one time axis: altitude (mean and min-max band), a signal strip per
// satellite, satellites in view and used, and the DOPs.
Drawing AltitudeDrawing(const Survey& survey);
Drawing StripDrawing(const Survey& survey);
Drawing SatelliteCountDrawing(const Survey& survey);
Drawing DopDrawing(const Survey& survey);

// The system font stack: nothing is fetched, the reader's own sans-serif is used.
inline constexpr const char* kFontStack =
    "system-ui, -apple-system, 'Segoe UI', Roboto, 'Noto Sans', 'Liberation Sans', 'DejaVu Sans', Arial, "
    "sans-serif";
