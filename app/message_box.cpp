// Message boxes and the error box, with the test hook that replaces them.
//
// Thread rule: window thread only.
#include "app/message_box.h"

#include <QMessageBox>

namespace {

std::function<int(const MessageBoxRequest&)>& hookSlot() {
  static std::function<int(const MessageBoxRequest&)> hook;
  return hook;
}

QMessageBox::StandardButtons qtButtons(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::Ok: return QMessageBox::Ok;
    case BoxButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case BoxButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case BoxButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon qtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None: return QMessageBox::NoIcon;
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::Warning: return QMessageBox::Warning;
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

int showBox(const MessageBoxRequest& request) {
  if (hookSlot()) return hookSlot()(request);
  const BoxButtons buttons = request.buttons;
  // No owner window: the box stands on its own, as the receiver's replies are not tied to a
  // particular control.
  QMessageBox box(qtIcon(request.icon), request.title, request.text, qtButtons(buttons));
  if (!request.informative.isEmpty()) box.setInformativeText(request.informative);
  box.exec();
  const QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) {
    // Closed with Esc or the window's close box: the "no" answer of a question.
    return buttons == BoxButtons::Ok      ? QMessageBox::Ok
           : buttons == BoxButtons::YesNo ? QMessageBox::No
                                          : QMessageBox::Cancel;
  }
  return static_cast<int>(box.standardButton(const_cast<QAbstractButton*>(clicked)));
}

}  // namespace

int ShowMessageBox(const QString& text, const QString& title, BoxButtons buttons, BoxIcon icon,
                   const QString& informative) {
  return showBox(MessageBoxRequest{text, title, buttons, icon, informative});
}

void ShowErrorBox(const QString& message, const QString& informative) {
  showBox(
      MessageBoxRequest{message, QString::fromLatin1(kApplicationTitle), BoxButtons::Ok, BoxIcon::Error, informative});
}

void SetMessageBoxHook(std::function<int(const MessageBoxRequest&)> hook) { hookSlot() = std::move(hook); }
