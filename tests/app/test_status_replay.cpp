// Real captures through the simulated receiver into the window: after every sentence the
// edit fields show what the sentence says. Positions are checked against gpsd's own decode
// of the same logs (the *.chk files beside them), date and time against gpsd's UTC time
// (the test runs in UTC), altitude and PDOP against the sentence's own fields.
#include <QtTest>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/app/support_window.h"

namespace {

struct Shown {
  std::string sentence;  // the line as it went into the console (without CR LF)
  QString date, time, lat, lon, mode, speed, pdop, height;
};

struct GpsdFix {
  double latDeg = 0;
  double lonDeg = 0;
  std::string timeIso;  // "2015-04-13T20:26:40.000Z" or empty
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    out.push_back(line);
  }
  return out;
}

std::optional<double> jsonNumber(const std::string& json, const std::string& key) {
  const std::string needle = "\"" + key + "\":";
  const std::size_t at = json.find(needle);
  if (at == std::string::npos) return std::nullopt;
  return std::strtod(json.c_str() + at + needle.size(), nullptr);
}

std::string jsonString(const std::string& json, const std::string& key) {
  const std::string needle = "\"" + key + "\":\"";
  const std::size_t at = json.find(needle);
  if (at == std::string::npos) return {};
  const std::size_t end = json.find('"', at + needle.size());
  return json.substr(at + needle.size(), end - at - needle.size());
}

std::vector<std::string> fieldsOf(const std::string& sentence);

// Degrees of an NMEA ddmm.mmmm field with its hemisphere, computed independently.
std::optional<double> rawDegrees(const std::string& value, const std::string& hemisphere) {
  if (value.empty() || hemisphere.empty()) return std::nullopt;
  const double v = std::strtod(value.c_str(), nullptr);
  const double deg = std::floor(v / 100) + std::fmod(v, 100) / 60;
  return (hemisphere == "S" || hemisphere == "W") ? -deg : deg;
}

// Latitude and longitude fields of a GGA, RMC or GLL sentence.
std::optional<std::pair<double, double>> sentencePosition(const std::string& sentence) {
  if (sentence.size() < 7) return std::nullopt;
  const std::string type = sentence.substr(3, 3);
  const std::vector<std::string> f = fieldsOf(sentence);
  std::size_t at = type == "GGA" ? 2 : type == "RMC" ? 3 : type == "GLL" ? 1 : 0;
  if (at == 0 || f.size() < at + 4) return std::nullopt;
  const auto lat = rawDegrees(f[at], f[at + 1]);
  const auto lon = rawDegrees(f[at + 2], f[at + 3]);
  if (!lat || !lon) return std::nullopt;
  return std::make_pair(*lat, *lon);
}

// gpsd's decode: each TPV report belongs to the position sentence before it whose own
// fields give the same position (gpsd reports once a cycle, not after every sentence).
std::map<std::string, GpsdFix> gpsdFixes(const std::string& chk) {
  std::map<std::string, GpsdFix> fixes;
  std::vector<std::string> cycle;  // position sentences since the last report
  for (const std::string& line : splitLines(chk)) {
    if (!line.empty() && line[0] == '$') {
      if (sentencePosition(line)) cycle.push_back(line);
      continue;
    }
    if (line.find("\"class\":\"TPV\"") == std::string::npos) continue;
    const auto lat = jsonNumber(line, "lat");
    const auto lon = jsonNumber(line, "lon");
    if (!lat || !lon) continue;
    for (const std::string& sentence : cycle) {
      const auto pos = sentencePosition(sentence);
      if (std::fabs(pos->first - *lat) < 2e-7 && std::fabs(pos->second - *lon) < 2e-7)
        fixes[sentence] = {*lat, *lon, jsonString(line, "time")};
    }
    cycle.clear();
  }
  return fixes;
}

std::vector<std::string> fieldsOf(const std::string& sentence) {
  std::vector<std::string> fields;
  const std::string body = sentence.substr(1, sentence.find('*') - 1);
  std::string field;
  std::istringstream in(body);
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!body.empty() && body.back() == ',') fields.emplace_back();
  return fields;
}

// "N 44°04'07.83"" back to signed degrees; nullopt when it is not of that form.
std::optional<double> degreesOf(const QString& text) {
  const QRegularExpression form(QStringLiteral("^([NSEW]) (\\d+)\u00B0(\\d\\d)'(\\d\\d)\\.(\\d\\d)\"$"));
  const QRegularExpressionMatch m = form.match(text);
  if (!m.hasMatch()) return std::nullopt;
  const double value = m.captured(2).toDouble() + m.captured(3).toDouble() / 60 +
                       (m.captured(4).toDouble() + m.captured(5).toDouble() / 100) / 3600;
  const QString h = m.captured(1);
  return (h == QLatin1String("S") || h == QLatin1String("W")) ? -value : value;
}

}  // namespace

class StatusReplayTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    setenv("TZ", "UTC", 1);
    tzset();
  }

  void fieldsFollowEverySentence_data() {
    QTest::addColumn<QString>("capture");
    QTest::newRow("MT3339 HAT, DGPS fix") << "mt3339.log";
    QTest::newRow("BT-Q818") << "bt-q818.log";
    QTest::newRow("FV-M11 power-up to first fix") << "mtk-3301.log";
    QTest::newRow("MT3329 cold start, placeholder positions") << "tr737A+.log";
  }

  void fieldsFollowEverySentence() {
    QFETCH(QString, capture);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.startupMessage = false;
    options.model.rates = {};
    WindowFixture fx(options);
    QVERIFY(fx.start());
    std::vector<Shown> shown;
    TForm1& f = fx.form();
    f.sentenceDisplayed = [&] {
      std::string sentence = f.sentenceBuffer.substr(0, f.sentenceBuffer.find_first_of("\r\n"));
      shown.push_back({sentence, f.EdDate->text(), f.EdTime->text(), f.EdLat->text(), f.EdLon->text(), f.EdMode->text(),
                       f.EdSpeed->text(), f.EdPDOP->text(), f.EdHeight->text()});
    };
    QVERIFY(fx.connect());
    const std::string log = testsupport::ReadTestData(capture.toStdString());
    fx.sim().withModel([&](sim::ReceiverModel& m) {
      m.options().replayFast = true;
      m.startReplay(sim::ReadCaptureLines(log));
    });
    QVERIFY(fx.pumpUntil([&] { return fx.sim().replayFinished(); }, 20000));
    fx.pumpUntil([] { return false; }, 300);  // the last sentences through the hand-off

    const std::map<std::string, GpsdFix> fixes = gpsdFixes(testsupport::ReadTestData(capture.toStdString() + ".chk"));
    int positionsChecked = 0;
    int timesChecked = 0;
    QString lastLat;
    for (const Shown& s : shown) {
      if (s.sentence.size() < 7 || s.sentence[0] != '$') continue;
      const std::string type = s.sentence.substr(3, 3);
      const std::vector<std::string> fields = fieldsOf(s.sentence);
      if (type == "GGA" && fields.size() > 9) QCOMPARE(s.height, QString::fromStdString(fields[9]));
      if (type == "GSA" && fields.size() > 15) {
        QCOMPARE(s.pdop, QString::fromStdString(fields[15]));
        const long mode = std::atol(fields[2].c_str());
        QCOMPARE(s.mode, mode == 3   ? QStringLiteral("3D")
                         : mode == 2 ? QStringLiteral("2D")
                                     : QStringLiteral("No Fix"));
      }
      if (type == "VTG" && fields.size() > 7) QCOMPARE(s.speed, QString::fromStdString(fields[7] + " km/h"));
      if (type != "GGA" && type != "RMC" && type != "GLL" && type != "GSA" && type != "GSV" && !lastLat.isEmpty())
        QCOMPARE(s.lat, lastLat);  // sentences without a position leave it alone
      lastLat = s.lat;

      const auto fix = fixes.find(s.sentence);
      if (fix == fixes.end()) continue;
      if (type == "GGA" || type == "RMC" || type == "GLL") {
        const auto lat = degreesOf(s.lat);
        const auto lon = degreesOf(s.lon);
        QVERIFY2(lat && lon, qPrintable(s.lat + QLatin1Char(' ') + s.lon));
        // Within 0.01 second of arc; our texts truncate, so they may stand up to one more
        // hundredth of a second below gpsd's value.
        const double tolDeg = 0.0201 / 3600;
        QVERIFY2(std::fabs(*lat - fix->second.latDeg) <= tolDeg, s.sentence.c_str());
        QVERIFY2(std::fabs(*lon - fix->second.lonDeg) <= tolDeg, s.sentence.c_str());
        ++positionsChecked;
      }
      if (type == "RMC" && fix->second.timeIso.size() >= 19) {
        const std::string& t = fix->second.timeIso;  // 2015-04-13T20:26:40.000Z
        const std::string year = t.substr(0, 4);
        // Two-digit years from 39 on are shown as 2030, the receiver's placeholder rule.
        const std::string expectedDate = (std::atoi(year.c_str()) >= 2039 ? std::string("2030") : year) + "/" +
                                         t.substr(5, 2) + "/" + t.substr(8, 2);
        QCOMPARE(s.date, QString::fromStdString(expectedDate));
        QCOMPARE(s.time, QString::fromStdString(t.substr(11, 8)));
        ++timesChecked;
      }
    }
    QVERIFY2(positionsChecked >= 5, qPrintable(QString::number(positionsChecked)));
    QVERIFY(timesChecked >= 1);
  }
};

QTEST_MAIN(StatusReplayTest)
#include "test_status_replay.moc"
