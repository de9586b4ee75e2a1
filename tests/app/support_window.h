// Window test fixture: a simulated receiver on a pseudo-terminal registered as Com1 in a
// private port map, the real window, and a recorder for every message box the window shows.
//
// Thread rule: the window and this fixture live on the test's main thread; the simulator
// runs its own worker.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/tform1.h"
#include "sim/sim_receiver.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"

// A window with no receiver, shown, its message boxes answered 0: the fixture of the tests
// of layout, status texts and charts. Close with CloseBareWindow.
TForm1* OpenBareWindow();
void CloseBareWindow(TForm1*& form);

struct RecordedBox {
  QString text;
  QString title;
  BoxButtons buttons;
  BoxIcon icon;
  QString informative;
};

class WindowFixture {
 public:
  // Starts the simulator with the given options (its port map entry is set here) and
  // creates the window. start() must be checked by the caller.
  explicit WindowFixture(sim::SimOptions options = DefaultSimOptions());
  ~WindowFixture();

  static sim::SimOptions DefaultSimOptions();
  bool start(std::string* error = nullptr);

  sim::SimReceiver& sim() { return *sim_; }
  TForm1& form() { return *form_; }
  std::vector<RecordedBox>& boxes() { return boxes_; }
  QString portDir() const { return portDir_.path(); }
  // The answer the box hook gives (QMessageBox::Ok by default).
  int boxAnswer;

  // Clicks "On"; true when the window is connected afterwards.
  bool connect();
  void disconnect();
  // Destroys the window as closing the program does (threads stopped by its destructor).
  void destroyWindow();
  // Processes events until condition() holds or timeoutMs passes.
  static bool pumpUntil(const std::function<bool()>& condition, int timeoutMs);
  // Every text the window has inserted into Memo1 since the last clear of this record
  // (the memo itself is emptied every 50 lines).
  const QString& memoInserted() const { return memoInserted_; }
  void clearMemoRecord() { memoInserted_.clear(); }
  // Connects and waits until the replies to the connect queries have been handled (the
  // fix-period reply, the last of them, has reached the console). Needs a receiver that
  // keeps talking, since a sentence is handled only once the next one begins.
  bool connectAndSettle(int timeoutMs = 10000);
  // start() and connectAndSettle(): the prelude of most window tests.
  bool startConnected() { return start() && connectAndSettle(); }
  // Has the simulated receiver send these lines (each a whole sentence with its line end)
  // and then one more sentence, so the last of them is handed over too; waits until the
  // last one has reached the console. Ends the receiver's own periodic output.
  bool sendFromReceiver(const std::vector<std::string>& lines, int timeoutMs = 10000);

 private:
  QTemporaryDir portDir_;
  sim::SimOptions options_;
  std::unique_ptr<sim::SimReceiver> sim_;
  std::unique_ptr<TForm1> form_;
  std::vector<RecordedBox> boxes_;
  QString memoInserted_;
};
