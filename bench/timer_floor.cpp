// The floor under the window's idle cost: an empty window whose event loop wakes for the same
// two timers the window must run while connected (a 200 ms one from the start, a 1 s one
// while the link is on), each with nothing to do. Whatever the window costs beyond this
// while idle is its own; this much is the machine's price of waking a Qt program up.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.resize(800, 600);
  window.show();
  QTimer every200ms;
  QTimer everySecond;
  every200ms.setInterval(200);
  everySecond.setInterval(1000);
  QObject::connect(&every200ms, &QTimer::timeout, [] {});
  QObject::connect(&everySecond, &QTimer::timeout, [] {});
  every200ms.start();
  everySecond.start();
  return QApplication::exec();
}
