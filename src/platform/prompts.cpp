#include "platform/prompts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include "platform/drives.h"
#include "platform/paths.h"

namespace platform {

namespace {

QString& TitleStore() {
  static QString title;
  return title;
}

Prompts* installed = nullptr;
QPointer<QWidget> promptParent;

// "Windows Bitmap|*.bmp|All|*.*" becomes "Windows Bitmap (*.bmp);;All (*.*)".
QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return out.join(QStringLiteral(";;"));
}

}  // namespace

void SetApplicationTitle(const QString& title) { TitleStore() = title; }

QString ApplicationTitle() {
  if (!TitleStore().isEmpty()) return TitleStore();
  return QCoreApplication::applicationName();
}

QString MessageCaption(MessageKind kind) {
  switch (kind) {
    case MessageKind::Error: return QStringLiteral("Error");
    case MessageKind::Information: return QStringLiteral("Information");
    case MessageKind::Confirm: return QStringLiteral("Confirm");
    case MessageKind::Plain:
    case MessageKind::ApplicationError: break;
  }
  return ApplicationTitle();
}

Prompts& CurrentPrompts() {
  static QtPrompts defaults;
  return installed ? *installed : defaults;
}

void SetPrompts(Prompts* prompts) { installed = prompts; }
void SetPromptParent(QWidget* parent) { promptParent = parent; }

MessageAnswer QtPrompts::Message(MessageKind kind, const QString& text,
                                 MessageButtons buttons) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MessageKind::Error:
    case MessageKind::ApplicationError: icon = QMessageBox::Critical; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Confirm: icon = QMessageBox::Question; break;
    case MessageKind::Plain: break;
  }
  QMessageBox box(icon, MessageCaption(kind), text, QMessageBox::NoButton, promptParent);
  box.setTextFormat(Qt::PlainText);
  if (buttons == MessageButtons::YesNo) {
    QPushButton* yes = box.addButton(QMessageBox::Yes);
    QPushButton* no = box.addButton(QMessageBox::No);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
  return MessageAnswer::Ok;
}

std::optional<QString> QtPrompts::SaveFile(const SaveFileRequest& request) {
  QFileDialog dialog(promptParent, request.title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFilter(request.filter));
  dialog.setDefaultSuffix(request.defaultExtension);
  QFileDialog::Options options;
  if (!request.overwritePrompt) options |= QFileDialog::DontConfirmOverwrite;
  dialog.setOptions(options);
  // The places beside the folders are the drives' folders: a file is of use to the host
  // only on one of them.
  QList<QUrl> drives;
  for (int n = 0; n < 26; ++n) {
    if (!(GetLogicalDrives() & (uint32_t(1) << n))) continue;
    const QString root = DriveHostRoot(QChar(u'A' + n));
    if (QFileInfo(root).isDir()) drives << QUrl::fromLocalFile(root);
  }
  dialog.setSidebarUrls(drives);
  const QString host = HostPath(request.fileName);
  if (!host.isEmpty()) dialog.selectFile(host);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return WindowsPath(chosen.first());
}

std::vector<QString> FakePrompts::MessageTexts() const {
  std::vector<QString> texts;
  for (const Asked& asked : messages) texts.push_back(asked.text);
  return texts;
}

MessageAnswer FakePrompts::Message(MessageKind kind, const QString& text,
                                   MessageButtons buttons) {
  messages.push_back({kind, MessageCaption(kind), text, buttons});
  MessageAnswer answer =
      buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
  if (!messageAnswers.empty()) {
    answer = messageAnswers.front();
    messageAnswers.pop_front();
  }
  return answer;
}

std::optional<QString> FakePrompts::SaveFile(const SaveFileRequest& request) {
  saveRequests.push_back(request);
  if (saveAnswers.empty()) return request.fileName;
  const bool cancelled = !saveAnswers.front().has_value();
  const QString path = cancelled ? QString() : *saveAnswers.front();
  saveAnswers.pop_front();
  if (cancelled) return std::nullopt;
  return path;
}

ScopedPrompts::ScopedPrompts(Prompts* prompts) : previous_(installed) {
  installed = prompts;
}

ScopedPrompts::~ScopedPrompts() { installed = previous_; }

}  // namespace platform
