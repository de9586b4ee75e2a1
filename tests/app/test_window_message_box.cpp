// The message box seam: with a hook every request is recorded and answered by the hook; without
// one a real modal box appears and its pressed button is the answer.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/message_box.h"

namespace {

// Runs action on the first modal box that appears, checking until one does.
void onModalBox(std::function<void(QWidget*)> action) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      action(box);
    }
  });
  poll->start();
}

}  // namespace

class MessageBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { SetMessageBoxHook({}); }

  void hookRecordsAndAnswers_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("answer");
    QTest::newRow("ok, information") << int(BoxButtons::Ok) << int(BoxIcon::Information) << int(QMessageBox::Ok);
    QTest::newRow("yes/no question answered no")
        << int(BoxButtons::YesNo) << int(BoxIcon::Question) << int(QMessageBox::No);
    QTest::newRow("yes/no warning answered yes")
        << int(BoxButtons::YesNo) << int(BoxIcon::Warning) << int(QMessageBox::Yes);
  }
  void hookRecordsAndAnswers() {
    QFETCH(int, buttons);
    QFETCH(int, icon);
    QFETCH(int, answer);
    QList<MessageBoxRequest> seen;
    SetMessageBoxHook([&seen, answer](const MessageBoxRequest& r) {
      seen << r;
      return answer;
    });
    const int got = ShowMessageBox(QStringLiteral("Set Successful!"), QStringLiteral("Send ok"),
                                   static_cast<BoxButtons>(buttons), static_cast<BoxIcon>(icon));
    QCOMPARE(got, answer);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("Set Successful!"));
    QCOMPARE(seen[0].title, QStringLiteral("Send ok"));
    QCOMPARE(int(seen[0].buttons), buttons);
    QCOMPARE(int(seen[0].icon), icon);
  }

  void errorBoxCarriesTheApplicationTitle() {
    QList<MessageBoxRequest> seen;
    SetMessageBoxHook([&seen](const MessageBoxRequest& r) {
      seen << r;
      return 0;
    });
    ShowErrorBox(QStringLiteral("Open ComPort failed."));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("Open ComPort failed."));
    QCOMPARE(seen[0].title, QStringLiteral("Torvikel v1.2.24"));
    QCOMPARE(seen[0].buttons, BoxButtons::Ok);
    QCOMPARE(seen[0].icon, BoxIcon::Error);
  }

  // Without a hook the box is real: press one of its buttons while it is open.
  void realBoxReturnsThePressedButton_data() {
    QTest::addColumn<int>("press");
    QTest::newRow("yes") << int(QMessageBox::Yes);
    QTest::newRow("no") << int(QMessageBox::No);
  }
  void realBoxReturnsThePressedButton() {
    QFETCH(int, press);
    QString shownTitle;
    QString shownText;
    onModalBox([&](QWidget* widget) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr) return;
      shownTitle = box->windowTitle();
      shownText = box->text();
      box->button(static_cast<QMessageBox::StandardButton>(press))->click();
    });
    const int got = ShowMessageBox(QStringLiteral("Clear EPO data?"), QStringLiteral("AGPS Message"), BoxButtons::YesNo,
                                   BoxIcon::Question);
    QCOMPARE(got, press);
    QCOMPARE(shownTitle, QStringLiteral("AGPS Message"));
    QCOMPARE(shownText, QStringLiteral("Clear EPO data?"));
  }

  void realBoxClosedWithoutAButtonIsNo() {
    onModalBox([](QWidget* box) { box->close(); });
    QCOMPARE(ShowMessageBox(QStringLiteral("?"), QStringLiteral("Warning"), BoxButtons::YesNo, BoxIcon::Warning),
             int(QMessageBox::No));
  }
};

QTEST_MAIN(MessageBoxTest)
#include "test_window_message_box.moc"
