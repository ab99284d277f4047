// The application's default error display: what the user sees of an error that an event
// handler raised and did not catch itself.
#pragma once

#include <QString>

#include <functional>
#include <stdexcept>
#include <string>

namespace dialog {

// An error raised by a handler of the dialog, carrying the message to show.
class DialogError : public std::runtime_error {
 public:
  explicit DialogError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// The message as the display shows it: a full stop is appended when the last character
// comes after "." in character order, so "Cannot open clipboard" gains one and
// "Unable to load picture!" does not.
QString errordisplaytext(const QString& message);

// Shows the message in a box captioned with the application title, with an error icon
// and one OK button.
void ShowApplicationError(const QString& message);

// Runs a handler; an error it raises goes to the default error display, and the dialog
// carries on where it was.
void runhandler(const std::function<void()>& handler);

}  // namespace dialog
