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
#include "torvikel/version.h"

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

// The program's options; --help and --version come with them.
struct Options {
  QCommandLineOption connect{QStringLiteral("connect"), QStringLiteral("Click \"On\" once at start.")};
  QCommandLineOption port{QStringLiteral("port"), QStringLiteral("Port text to put into the port box (ComN)."),
                          QStringLiteral("ComN")};
  QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("Baud rate text to put into the speed box."),
                          QStringLiteral("B")};
  QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                QStringLiteral("Write status.png and setup.png of both tabs into DIR, then exit."),
                                QStringLiteral("DIR")};
  QCommandLineOption delay{QStringLiteral("screenshot-delay"),
                           QStringLiteral("Seconds to wait before the screenshots (default 8)."), QStringLiteral("SEC"),
                           QStringLiteral("8")};

  void addTo(QCommandLineParser& parser) const {
    parser.setApplicationDescription(QStringLiteral("MediaTek GPS receiver viewer and configuration tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({connect, port, baud, screenshot, delay});
  }
};

// --help and --version only print, so they must work where no window can open (a terminal
// over SSH, a package check): they are answered before the window's platform is loaded.
bool onlyPrints(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "-v" || arg == "--version") {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  const Options options;
  if (onlyPrints(argc, argv)) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvikel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVIKEL_VERSION));
    QCommandLineParser parser;
    options.addTo(parser);
    parser.process(app);  // prints the text and ends the program
    return 0;
  }

  TorvikelApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
  QApplication::setApplicationVersion(QStringLiteral(TORVIKEL_VERSION));
  // Lets the desktop match the window to its menu entry and icon (Wayland's app id).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.torvikel.Torvikel"));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

  QCommandLineParser parser;
  options.addTo(parser);
  parser.process(app);

  TForm1 window;
  if (parser.isSet(options.port)) window.ComboBox1->setEditText(parser.value(options.port));
  if (parser.isSet(options.baud)) window.ComboBox2->setEditText(parser.value(options.baud));
  window.show();
  // SIGTERM, SIGINT and SIGHUP end the program as closing the window does.
  InstallTerminationSignals(&window, [&window](int) {
    window.Shutdown();
    QCoreApplication::exit(0);
  });
  if (parser.isSet(options.connect)) QTimer::singleShot(0, &window, [&window] { window.Button1->click(); });

  if (parser.isSet(options.screenshot)) {
    const QString dir = parser.value(options.screenshot);
    bool ok = false;
    double delaySec = parser.value(options.delay).toDouble(&ok);
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
