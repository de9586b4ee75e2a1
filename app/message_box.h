// The one seam through which the window shows message boxes and the error box of a failed
// step. Tests install a hook that records each request and answers it, so no modal box ever
// blocks a test run.
//
// Thread rule: window thread only (a modal box runs a local event loop there).
#pragma once

#include <QString>
#include <functional>

#include "torvikel/version.h"

inline const char* const kApplicationTitle = "Torvikel v" TORVIKEL_VERSION;

enum class BoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class BoxIcon { None, Information, Warning, Error, Question };

struct MessageBoxRequest {
  QString text;
  QString title;
  BoxButtons buttons = BoxButtons::Ok;
  BoxIcon icon = BoxIcon::None;
  QString informative;  // a second, smaller line under the main text; empty: none
};

// Shows a modal box without owner window; returns the button pressed as a
// QMessageBox::StandardButton value (QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok ...).
// informative, when given, is a second, smaller line under the text.
int ShowMessageBox(const QString& text, const QString& title, BoxButtons buttons, BoxIcon icon,
                   const QString& informative = QString());

// The box of a failed step: the message with a stop icon under the application's title;
// informative, when given, says why in plain words under it.
void ShowErrorBox(const QString& message, const QString& informative = QString());

// When set, every box request goes to the hook instead of the screen and the hook's return
// value is the answer. Pass an empty function to show real boxes again.
void SetMessageBoxHook(std::function<int(const MessageBoxRequest&)> hook);
