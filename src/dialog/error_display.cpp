#include "dialog/error_display.h"

#include <exception>

#include "platform/prompts.h"

namespace dialog {

QString errordisplaytext(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void ShowApplicationError(const QString& message) {
  platform::CurrentPrompts().Message(platform::MessageKind::ApplicationError, errordisplaytext(message));
}

void runhandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowApplicationError(QString::fromUtf8(error.what()));
  }
}

}  // namespace dialog
