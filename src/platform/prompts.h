// Modal prompts: message boxes and the save-file dialog, behind one interface so that
// tests can answer them.
//
// The dialog calls Prompts(); by default that is a QtPrompts (QMessageBox, QFileDialog).
// Tests install a FakePrompts that takes answers from a queue and records every question.
#pragma once

#include <deque>
#include <optional>
#include <vector>

#include <QString>

class QWidget;

namespace platform {

// The application title: the caption of the plain message boxes and of the default
// error display. Set once by the program entry ("Select File").
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

enum class MessageKind {
  Error,             // caption "Error", error icon
  Information,       // caption "Information", information icon
  Confirm,           // caption "Confirm", question icon
  Plain,             // caption the application title, no icon
  ApplicationError,  // caption the application title, error icon: the default error display
};

enum class MessageButtons { Ok, YesNo };

enum class MessageAnswer { Ok, Yes, No };

// A save-file question. Paths are Windows paths.
struct SaveFileRequest {
  QString title;             // "Save Picture as Bitmap"
  QString filter;            // in the form "Description|*.ext|Description|*.a;*.b"
  QString defaultExtension;  // without the dot, "bmp"; added to a name chosen without one
  QString fileName;          // the proposed file, "C:\pics\SUNSET.bmp"
  bool overwritePrompt = false;  // ask before replacing an existing file
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Shows a modal message box and returns the button chosen. For YesNo the default
  // button is Yes and Esc (or closing the box) answers No; for Ok every way out answers
  // Ok.
  virtual MessageAnswer Message(MessageKind kind, const QString& text,
                                MessageButtons buttons = MessageButtons::Ok) = 0;
  // Shows the save dialog; the chosen file as a Windows path, or nothing when cancelled.
  virtual std::optional<QString> SaveFile(const SaveFileRequest& request) = 0;
};

// The prompts in force (a QtPrompts until SetPrompts installs another).
Prompts& CurrentPrompts();
// Installs prompts (not owned; nullptr restores the default). The window that prompts
// are centred on is set with SetPromptParent.
void SetPrompts(Prompts* prompts);
void SetPromptParent(QWidget* parent);

// The caption a message kind shows.
QString MessageCaption(MessageKind kind);

// QMessageBox and QFileDialog. The save dialog shows host paths: the proposed Windows
// path is translated to a host path, and the chosen host path back to a Windows path.
class QtPrompts : public Prompts {
 public:
  MessageAnswer Message(MessageKind kind, const QString& text,
                        MessageButtons buttons = MessageButtons::Ok) override;
  std::optional<QString> SaveFile(const SaveFileRequest& request) override;
};

// Scripted answers for tests.
class FakePrompts : public Prompts {
 public:
  struct Asked {
    MessageKind kind;
    QString caption;
    QString text;
    MessageButtons buttons;
  };

  // Answers for the message boxes, taken in order; when the queue is empty a box is
  // answered Ok (or Yes for YesNo).
  std::deque<MessageAnswer> messageAnswers;
  // Answers for the save dialog: a Windows path, or nullopt for Cancel; when the queue is
  // empty the proposed file name is accepted.
  std::deque<std::optional<QString>> saveAnswers;

  std::vector<Asked> messages;                // every message box shown, in order
  std::vector<SaveFileRequest> saveRequests;  // every save dialog shown, in order

  // Texts of the message boxes shown, in order (convenient for comparisons).
  std::vector<QString> MessageTexts() const;

  MessageAnswer Message(MessageKind kind, const QString& text,
                        MessageButtons buttons = MessageButtons::Ok) override;
  std::optional<QString> SaveFile(const SaveFileRequest& request) override;
};

// Installs a prompt object for the lifetime of this guard, restoring the previous one.
class ScopedPrompts {
 public:
  explicit ScopedPrompts(Prompts* prompts);
  ~ScopedPrompts();
  ScopedPrompts(const ScopedPrompts&) = delete;
  ScopedPrompts& operator=(const ScopedPrompts&) = delete;

 private:
  Prompts* previous_;
};

}  // namespace platform
