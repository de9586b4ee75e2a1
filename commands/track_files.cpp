// GPX and CSV of the logbook's records.
//
// Thread rule: pure functions over values.
#include "commands/track_files.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

// The shortest text that reads back as the same float: the position as the receiver stored it.
std::string FloatText(float value) {
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

bool ValidPosition(const LocusRecord& r) {
  return r.latitudeDeg && r.longitudeDeg && std::isfinite(*r.latitudeDeg) && std::isfinite(*r.longitudeDeg) &&
         *r.latitudeDeg >= -90.0f && *r.latitudeDeg <= 90.0f && *r.longitudeDeg >= -180.0f && *r.longitudeDeg < 180.0f;
}

std::string Hundredths(unsigned value) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%02u", value / 100, value % 100);
  return text;
}

std::string_view FixName(std::uint8_t fix) {
  switch (fix) {
    case 0: return "none";
    case 2: return "2d";
    case 3: return "3d";
    default: return {};  // a fix of a kind the file has no word for: left out
  }
}

// Whether a gap lies between two records: more than kTrackGapIntervals intervals apart.
bool GapBetween(const LocusRecord& before, const LocusRecord& after) {
  if (!before.utcSec || !after.utcSec || after.intervalSec == 0) return false;
  return static_cast<long long>(*after.utcSec) - static_cast<long long>(*before.utcSec) >
         static_cast<long long>(kTrackGapIntervals) * after.intervalSec;
}

}  // namespace

std::optional<TrackFormat> TrackFormatOfName(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "gpx") return TrackFormat::Gpx;
  if (lower == "csv") return TrackFormat::Csv;
  if (lower == "raw") return TrackFormat::Raw;
  return std::nullopt;
}

std::optional<TrackFormat> TrackFormatOfPath(std::string_view path) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::nullopt;
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "gpx") return TrackFormat::Gpx;
  if (ext == "csv") return TrackFormat::Csv;
  if (ext == "bin" || ext == "raw" || ext == "dat") return TrackFormat::Raw;
  return std::nullopt;
}

std::string IsoUtcText(std::uint32_t utcSec) {
  const std::time_t t = static_cast<std::time_t>(utcSec);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::size_t LocusGpxPoints(const LocusFlashRead& read) {
  std::size_t points = 0;
  for (const LocusRecord& r : read.records) points += ValidPosition(r) ? 1 : 0;
  return points;
}

std::string LocusGpx(const LocusFlashRead& read, std::string_view creator) {
  std::string gpx =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"";
  for (char c : creator) gpx += (c == '"' || c == '<' || c == '&') ? ' ' : c;
  gpx +=
      "\" xmlns=\"http://www.topografix.com/GPX/1/1\""
      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
      " xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\""
      " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
      "  <trk>\n"
      "    <name>LOCUS logbook</name>\n";
  const LocusRecord* previous = nullptr;
  bool open = false;
  for (const LocusRecord& r : read.records) {
    if (!ValidPosition(r)) continue;
    if (!open || (previous != nullptr && GapBetween(*previous, r))) {
      if (open) gpx += "    </trkseg>\n";
      gpx += "    <trkseg>\n";
      open = true;
    }
    previous = &r;
    gpx += "      <trkpt lat=\"" + FloatText(*r.latitudeDeg) + "\" lon=\"" + FloatText(*r.longitudeDeg) + "\">\n";
    if (r.heightM) gpx += "        <ele>" + std::to_string(*r.heightM) + "</ele>\n";
    if (r.utcSec) gpx += "        <time>" + IsoUtcText(*r.utcSec) + "</time>\n";
    if (r.fix && !FixName(*r.fix).empty()) gpx += "        <fix>" + std::string(FixName(*r.fix)) + "</fix>\n";
    if (r.satellites) gpx += "        <sat>" + std::to_string(*r.satellites) + "</sat>\n";
    if (r.hdopHundredths) gpx += "        <hdop>" + Hundredths(*r.hdopHundredths) + "</hdop>\n";
    if (r.speedKmh || r.trackDeg) {
      gpx += "        <extensions><gpxtpx:TrackPointExtension>";
      if (r.speedKmh) {
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.2f", *r.speedKmh / 3.6);
        gpx += std::string("<gpxtpx:speed>") + speed + "</gpxtpx:speed>";
      }
      if (r.trackDeg) {
        gpx += "<gpxtpx:course>" + std::to_string((*r.trackDeg % 360 + 360) % 360) + "</gpxtpx:course>";
      }
      gpx += "</gpxtpx:TrackPointExtension></extensions>\n";
    }
    gpx += "      </trkpt>\n";
  }
  if (open) gpx += "    </trkseg>\n";
  gpx += "  </trk>\n</gpx>\n";
  return gpx;
}

std::string LocusCsv(const LocusFlashRead& read) {
  std::string csv = "utc,fix,latitude_deg,longitude_deg,height_m,speed_kmh,track_deg,hdop,satellites\n";
  for (const LocusRecord& r : read.records) {
    csv += r.utcSec ? IsoUtcText(*r.utcSec) : "";
    csv += ',';
    if (r.fix) csv += std::to_string(*r.fix);
    csv += ',';
    if (r.latitudeDeg) csv += FloatText(*r.latitudeDeg);
    csv += ',';
    if (r.longitudeDeg) csv += FloatText(*r.longitudeDeg);
    csv += ',';
    if (r.heightM) csv += std::to_string(*r.heightM);
    csv += ',';
    if (r.speedKmh) csv += std::to_string(*r.speedKmh);
    csv += ',';
    if (r.trackDeg) csv += std::to_string(*r.trackDeg);
    csv += ',';
    if (r.hdopHundredths) csv += Hundredths(*r.hdopHundredths);
    csv += ',';
    if (r.satellites) csv += std::to_string(*r.satellites);
    csv += '\n';
  }
  return csv;
}
