// Program entry: the application, its one window and the event loop. Also a few conveniences
// for scripts: connect at start, choose port and speed, and write screenshots of both tabs.
//
// Thread rule: main thread, which is the window thread.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStyleFactory>
#include <QTimer>
#include <exception>

#include "app/message_box.h"
#include "app/termination_signals.h"
#include "app/tform1.h"

namespace {

// An error that escapes a handler is shown in the standard error box instead of ending the
// program, so a failed step leaves the window usable.
class TorvikelApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      ShowErrorBox(QStringLiteral("Unknown error."));
    }
    return false;
  }
};

bool saveTab(TForm1& window, int index, const QString& path) {
  window.PageControl1->setCurrentIndex(index);
  return window.grab().save(path, "PNG");
}

}  // namespace

int main(int argc, char* argv[]) {
  TorvikelApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("MediaTek GPS receiver viewer and configuration tool"));
  parser.addHelpOption();
  const QCommandLineOption connectOption(QStringLiteral("connect"),
                                         QStringLiteral("Click \"On\" once at start."));
  const QCommandLineOption portOption(QStringLiteral("port"),
                                      QStringLiteral("Port text to put into the port box (ComN)."),
                                      QStringLiteral("ComN"));
  const QCommandLineOption baudOption(QStringLiteral("baud"),
                                      QStringLiteral("Baud rate text to put into the speed box."),
                                      QStringLiteral("B"));
  const QCommandLineOption screenshotOption(
      QStringLiteral("screenshot"),
      QStringLiteral("Write status.png and setup.png of both tabs into DIR, then exit."),
      QStringLiteral("DIR"));
  const QCommandLineOption delayOption(QStringLiteral("screenshot-delay"),
                                       QStringLiteral("Seconds to wait before the screenshots (default 8)."),
                                       QStringLiteral("SEC"), QStringLiteral("8"));
  parser.addOptions({connectOption, portOption, baudOption, screenshotOption, delayOption});
  parser.process(app);

  TForm1 window;
  if (parser.isSet(portOption)) window.ComboBox1->setEditText(parser.value(portOption));
  if (parser.isSet(baudOption)) window.ComboBox2->setEditText(parser.value(baudOption));
  window.show();
  // SIGTERM, SIGINT and SIGHUP end the program as closing the window does.
  InstallTerminationSignals(&window, [&window](int) {
    window.Shutdown();
    QCoreApplication::exit(0);
  });
  if (parser.isSet(connectOption)) QTimer::singleShot(0, &window, [&window] { window.Button1->click(); });

  if (parser.isSet(screenshotOption)) {
    const QString dir = parser.value(screenshotOption);
    bool ok = false;
    double delaySec = parser.value(delayOption).toDouble(&ok);
    if (!ok || delaySec < 0) delaySec = 8;
    QTimer::singleShot(static_cast<int>(delaySec * 1000), &window, [&window, dir] {
      QDir().mkpath(dir);
      const bool saved = saveTab(window, 0, QDir(dir).filePath(QStringLiteral("status.png"))) &&
                         saveTab(window, 1, QDir(dir).filePath(QStringLiteral("setup.png")));
      window.PageControl1->setCurrentIndex(0);
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
