// The window and torvikel-cli put the same bytes on the line for the same command: each
// button is clicked in the offscreen window, the same command is sent with torvikel-cli to
// the same simulated receiver, and the two recordings of what the receiver read must be
// equal (zero bytes included).
#include <QMessageBox>
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/support_window.h"
#include "tests/core/test_cli_support.h"

namespace {

struct SameBytesCase {
  const char* legend;
  std::function<void(TForm1&)> prepare;  // sets the controls the handler reads
  std::function<QPushButton*(TForm1&)> button;
  std::vector<std::string> cliArgs;  // after "send"
};

void selectRates(TForm1& f, const std::vector<int>& indices) {
  const std::vector<QComboBox*> boxes = {f.cbGLL, f.cbRMC, f.cbVTG, f.cbGSA, f.cbGSV, f.cbGGA, f.cbZDA, f.cbMCHN};
  for (std::size_t i = 0; i < boxes.size(); ++i) boxes[i]->setCurrentIndex(indices[i]);
}

const std::vector<SameBytesCase>& cases() {
  static const std::vector<SameBytesCase> all = {
      {"hot", nullptr, [](TForm1& f) { return f.hot; }, {"hot"}},
      {"warm", nullptr, [](TForm1& f) { return f.warm; }, {"warm"}},
      {"cold", nullptr, [](TForm1& f) { return f.cold; }, {"cold"}},
      {"Default", nullptr, [](TForm1& f) { return f.btDefault; }, {"default-rates"}},
      {"Confirm, every box different",
       [](TForm1& f) {
         selectRates(f, {1, 2, 3, 4, 5, 0, 1, 2});
       },
       [](TForm1& f) { return f.btConfirm; },
       {"rates", "1", "2", "3", "4", "5", "0", "1", "2"}},
      {"rate Query", nullptr, [](TForm1& f) { return f.btNAQuery; }, {"query-rates"}},
      {"fix rate Set at 1",
       [](TForm1& f) { f.cbFix->setCurrentIndex(0); },
       [](TForm1& f) { return f.btFixSet; },
       {"fix-rate", "1"}},
      {"fix rate Set at 3",
       [](TForm1& f) { f.cbFix->setCurrentIndex(2); },
       [](TForm1& f) { return f.btFixSet; },
       {"fix-rate", "3"}},
      {"fix rate Set at 10",
       [](TForm1& f) { f.cbFix->setCurrentIndex(5); },
       [](TForm1& f) { return f.btFixSet; },
       {"fix-rate", "10"}},
      {"fix rate Query", nullptr, [](TForm1& f) { return f.btFixQuery; }, {"query-fix"}},
      {"fix rate Reset", nullptr, [](TForm1& f) { return f.Button5; }, {"fix-reset"}},
      {"DGPS Set, SBAS",
       [](TForm1& f) { f.rbWAAS->setChecked(true); },
       [](TForm1& f) { return f.btDGPSSet; },
       {"dgps", "sbas"}},
      {"DGPS Set, RTCM",
       [](TForm1& f) { f.rbRTCM->setChecked(true); },
       [](TForm1& f) { return f.btDGPSSet; },
       {"dgps", "rtcm"}},
      {"DGPS Set, Disable",
       [](TForm1& f) { f.rbDisable->setChecked(true); },
       [](TForm1& f) { return f.btDGPSSet; },
       {"dgps", "none"}},
      {"DGPS Query", nullptr, [](TForm1& f) { return f.btDGQuery; }, {"query-dgps"}},
      {"firmware Query", nullptr, [](TForm1& f) { return f.btVerQuery; }, {"version"}},
      {"AGPS Query", nullptr, [](TForm1& f) { return f.Button2; }, {"epo-query"}},
      {"AGPS Reset, answered Yes", nullptr, [](TForm1& f) { return f.Button4; }, {"epo-clear"}},
  };
  return all;
}

}  // namespace

class CliSameBytesTest : public QObject {
  Q_OBJECT

 private slots:
  void windowAndCliWriteTheSame_data() {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < cases().size(); ++i) QTest::newRow(cases()[i].legend) << static_cast<int>(i);
  }

  void windowAndCliWriteTheSame() {
    QFETCH(int, row);
    const SameBytesCase& c = cases()[static_cast<std::size_t>(row)];
    WindowFixture fx;
    fx.boxAnswer = QMessageBox::Yes;  // the EPO clear's question
    QVERIFY(fx.start());

    // The command-line tool first, while the window is not connected.
    std::vector<std::string> args = {"send", "--port", "Com1"};
    args.insert(args.end(), c.cliArgs.begin(), c.cliArgs.end());
    const clitest::CliResult cli = clitest::RunCli(args, {{"TORVIKEL_PORT_DIR", fx.portDir().toStdString()}});
    QVERIFY2(cli.exitCode == 0, cli.err.c_str());
    const std::string fromCli = fx.sim().receivedBytes();
    QVERIFY(!fromCli.empty());

    // Then the window's button on the same receiver.
    QVERIFY(fx.connectAndSettle());
    TForm1& f = fx.form();
    if (c.prepare) c.prepare(f);
    fx.sim().clearLogs();
    QPushButton* button = c.button(f);
    QVERIFY(button->isEnabled());
    button->click();
    QVERIFY(fx.sim().waitUntil([&] { return fx.sim().receivedBytes().size() >= fromCli.size(); }, 10000));
    fx.pumpUntil([] { return false; }, 100);  // anything more would show up now
    QCOMPARE(QByteArray::fromStdString(fx.sim().receivedBytes()).toHex(' '),
             QByteArray::fromStdString(fromCli).toHex(' '));
  }
};

QTEST_MAIN(CliSameBytesTest)
#include "test_cli_same_bytes.moc"
