// torvikel-cli report: the scatter alone is well-formed SVG (read by xmllint) and its circles
// carry the very figures --json prints; the page is one file that fetches nothing and runs no
// script; a live report from the simulated receiver says what the report of the log it wrote
// says; and what cannot be done is said in one line.
#ifdef TORVIKEL_CLI_BINARY

#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/core/test_cli_support.h"
#include "tests/support/files.h"

namespace {

using clitest::CliResult;
using clitest::RunCli;
using clitest::SimFixture;

const std::string kCapture = std::string(TORVIKEL_TEST_DATA) + "/sample_gpsdata_usbttl_1.txt";

bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// xmllint's answer and whether it exited 0.
std::pair<bool, std::string> Xmllint(const std::string& arguments) {
  std::string out;
  FILE* pipe = ::popen(("xmllint " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {false, ""};
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0, out};
}

// The number a JSON member has, as text ("cep50_m": 11.984 -> "11.984").
std::string JsonFigure(const std::string& json, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + name + "\": (-?[0-9.]+)"))) return "(absent)";
  return m[1];
}

TEST(CliReport, ScatterSvgCarriesTheJsonFigures) {
  testsupport::TempDir dir;
  const std::string svg = dir.file("scatter.svg");
  const CliResult drawn = RunCli({"report", "-o", svg, kCapture});
  ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
  EXPECT_TRUE(OneLine(drawn.err)) << drawn.err;
  const CliResult json = RunCli({"report", "--json", kCapture});
  ASSERT_EQ(json.exitCode, 0) << json.err;

  const auto [wellFormed, complaint] = Xmllint("--noout " + svg);
  EXPECT_TRUE(wellFormed) << complaint;
  for (const char* circle : {"cep50", "cep95", "drms2"}) {
    auto [found, value] = Xmllint("--xpath \"string(//*[local-name()='circle'][@class='" + std::string(circle) +
                                  "']/@data-metres)\" " + svg);
    EXPECT_TRUE(found) << value;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    EXPECT_EQ(value, JsonFigure(json.out, std::string(circle) + "_m")) << circle;
  }
  // The figures are the capture's: 1278 one-second epochs, every one a fix.
  EXPECT_EQ(JsonFigure(json.out, "total"), "1278");
}

TEST(CliReport, PageNeedsNothingElse) {
  testsupport::TempDir dir;
  const std::string html = dir.file("report.html");
  const CliResult drawn = RunCli({"report", "-o", html, kCapture});
  ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
  const std::string page = testsupport::ReadFile(html);
  const auto [parsed, complaint] = Xmllint("--html --noout " + html);
  EXPECT_TRUE(parsed) << complaint;
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // No address but the namespaces' names: nothing to fetch.
  const std::string noNamespaces =
      std::regex_replace(page, std::regex("xmlns(:\\w+)?=\"http://www\\.w3\\.org/[^\"]*\""), "");
  EXPECT_EQ(noNamespaces.find("http"), std::string::npos);
  EXPECT_EQ(noNamespaces.find("url("), std::string::npos);
  EXPECT_NE(page.find("CEP50"), std::string::npos);
}

// Fed sentence by sentence as they arrive, the report says what the report of the log it
// wrote says.
TEST(CliReport, LiveReportEqualsTheReportOfItsLog) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  testsupport::TempDir dir;
  const std::string log = dir.file("live.nmea");
  const CliResult live = RunCli({"report", "--live", "2", "--port", SimFixture::kPortText, "--json", log}, sim.env());
  ASSERT_EQ(live.exitCode, 0) << live.err;
  const CliResult again = RunCli({"report", "--json", log});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(live.out, again.out);
  EXPECT_NE(JsonFigure(live.out, "total"), "0");
}

TEST(CliReport, RefusalsInOneLine) {
  testsupport::TempDir dir;
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  } rows[] = {
      {{"report", dir.file("absent.nmea")}, 1, "cannot read"},
      {{"report", "-o", dir.file("r.txt"), kCapture}, 2, ".html or .svg"},
      {{"report", "--port", "Com4", kCapture}, 2, "go with --live"},
      {{"report", "--live", "0", kCapture}, 2, "--live takes"},
      {{"report", "-o", dir.file("no/such/dir/r.html"), kCapture}, 1, "cannot write the report"},
  };
  for (const Row& row : rows) {
    const CliResult r = RunCli(row.args);
    EXPECT_EQ(r.exitCode, row.exitCode) << row.says;
    EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

}  // namespace

#endif
