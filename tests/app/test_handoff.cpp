// The blocking hand-off's member call: made on the context's thread with its value brought
// back to the worker; after a cancel nothing is brought back, a call that never started never
// runs and lets go of what it holds at once, and a call that a cancel overtook while it ran
// still has its own copies of the arguments.
#include <QEventLoop>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/handoff.h"

namespace {

// An object of the window thread that a worker calls through the hand-off; its calls are
// counted where the test can see them after it is gone.
class Target {
 public:
  explicit Target(std::atomic<int>& calls) : calls_(calls) {}
  int add(int number, const std::string& text) {
    note();
    return number + static_cast<int>(text.size());
  }
  void touch() { note(); }
  // Cancels the hand-off while it runs, waits until the worker has moved on and changed the
  // string it passed, then keeps what its argument says.
  void cancelThenRead(BlockingHandOff* handOff, std::atomic<bool>* workerMovedOn, const std::string& text) {
    note();
    handOff->cancel();
    workerMovedOn->wait(false);
    read = text;
    readDone = true;
  }

  QThread* thread() const { return thread_.load(); }
  std::string read;  // the window thread's, until readDone
  std::atomic<bool> readDone{false};

 private:
  void note() {
    ++calls_;
    thread_ = QThread::currentThread();
  }
  std::atomic<int>& calls_;
  std::atomic<QThread*> thread_{nullptr};
};

// Runs work on a worker thread while this thread handles events, until the worker is done.
void runOnWorker(const std::function<void()>& work) {
  QEventLoop loop;
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
}

}  // namespace

class HandOffTest : public QObject {
  Q_OBJECT

 private slots:
  void memberCallRunsOnTheContextThreadAndBringsItsValueBack() {
    QObject context;
    BlockingHandOff handOff(&context);
    std::atomic<int> calls{0};
    auto target = std::make_shared<Target>(calls);
    std::optional<int> sum;
    bool touched = false;
    runOnWorker([&] {
      sum = handOff.callOn(target, &Target::add, 2, std::string("abc"));
      touched = handOff.callOn(target, &Target::touch);
    });
    QCOMPARE(sum, std::optional<int>(5));
    QVERIFY(touched);
    QCOMPARE(calls.load(), 2);
    QCOMPARE(target->thread(), QThread::currentThread());
  }

  void callThatNeverStartedNeverRunsAndLetsGoAtOnce_data() {
    QTest::addColumn<bool>("cancelFirst");
    QTest::newRow("cancelled before the call") << true;
    QTest::newRow("cancelled while the call waits for the context's thread") << false;
  }
  void callThatNeverStartedNeverRunsAndLetsGoAtOnce() {
    QFETCH(bool, cancelFirst);
    QObject context;
    BlockingHandOff handOff(&context);
    std::atomic<int> calls{0};
    auto target = std::make_shared<Target>(calls);
    const std::weak_ptr<Target> held = target;
    if (cancelFirst) handOff.cancel();
    std::atomic<bool> calling{false};
    std::optional<int> sum = 0;
    bool touched = true;
    // This thread handles no event until the worker is done: what the worker posted is still
    // queued when it returns.
    std::thread worker([&, target = std::move(target)]() mutable {
      calling = true;
      calling.notify_all();
      sum = handOff.callOn(target, &Target::add, 1, std::string("x"));
      touched = handOff.callOn(target, &Target::touch);
      target.reset();
    });
    calling.wait(false);
    if (!cancelFirst) handOff.cancel();
    worker.join();
    QCOMPARE(sum, std::optional<int>());
    QVERIFY(!touched);
    QVERIFY2(held.expired(), "a call that never starts holds nothing once its worker has returned");
    QCoreApplication::sendPostedEvents();
    QCOMPARE(calls.load(), 0);
  }

  void callThatACancelOvertookKeepsItsOwnArguments() {
    QObject context;
    BlockingHandOff handOff(&context);
    std::atomic<int> calls{0};
    auto target = std::make_shared<Target>(calls);
    std::atomic<bool> workerMovedOn{false};
    bool cleared = false;
    std::thread worker([&] {
      std::string text = "the worker's words";
      cleared = !handOff.callOn(target, &Target::cancelThenRead, &handOff, &workerMovedOn, text);
      text.assign(text.size(), '#');
      workerMovedOn = true;
      workerMovedOn.notify_all();
    });
    // The call runs in this wait, ends the hand-off while it runs, and reads its argument after
    // the worker has moved on.
    QTRY_VERIFY(target->readDone.load());
    worker.join();
    QVERIFY2(cleared, "a call overtaken by a cancel brings nothing back");
    QCOMPARE(target->read, std::string("the worker's words"));
    QCOMPARE(calls.load(), 1);
  }
};

QTEST_MAIN(HandOffTest)
#include "test_handoff.moc"
