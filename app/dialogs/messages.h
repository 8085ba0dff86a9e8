// messages.h - the message boxes of the file manager, behind one seam.
//
// Every modal message goes through ShowMessage, and every error that escapes
// a handler through ShowGeneralError. Tests install their own handler so a box
// nobody answers never blocks a run; the program uses Qt's message boxes.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace vantrel::app {

// The caption of the main window and of its commands' message boxes.
inline constexpr const char* kMainCaption = "Vantrel v. 1.6 (beta)";
// The caption of the dialogs and of the general error box.
inline constexpr const char* kDialogCaption = "Vantrel";

enum class MessageKind {
  Information,
  Warning,
  Error,
  Question,
  // A plain box without an icon, OK only.
  Plain,
  // A question with Yes, No, All, None and Cancel ("Overwrite file …?").
  QuestionAll,
  // A failing item of an operation, with "Skip", "Skip all", "Abort" and
  // "Retry".
  Failure,
  // The list of what an operation skipped, with OK and "Copy list" (which
  // puts the text on the clipboard and leaves the box open).
  Summary,
  // Closing while jobs run: "Continue" (Ok: the window stays and the jobs go
  // on; also Escape), "Cancel jobs" (Abort) and "Wait" (Yes: the window
  // closes once the jobs ended).
  JobsRunning,
};

// The answers a message can give.
// None: "no to all" (leave this and every further existing file).
enum class MessageAnswer { Ok, Yes, No, Cancel, All, SkipAll, Abort, None, Retry };

using MessageHandler = MessageAnswer (*)(QWidget* parent, MessageKind kind, const QString& caption,
                                         const QString& text);

// Replaces the handler; nullptr restores Qt's message boxes. Returns the old one.
MessageHandler SetMessageHandler(MessageHandler handler);

// A modal message with the icon of `kind`; a Question offers Yes and No, the
// others OK. The text is shown as WordedMessage words it.
MessageAnswer ShowMessage(QWidget* parent, MessageKind kind, const QString& caption,
                          const QString& text);

// `text` in the language chosen, line by line (a translation file's keys
// hold no line breaks): a line that is a message of its own is looked up
// whole; a line made with a number or a name in it ("Move 3 items to the
// Trash?") is matched against the program's wording with its %1, %2 and
// the pieces filled into the translation. Other lines (names, the system's
// reasons) stay as they are.
QString WordedMessage(const QString& text);

// A one-line input box: `text` comes prefilled and holds what was confirmed.
// False when the user cancelled.
using InputHandler = bool (*)(QWidget* parent, const QString& caption, const QString& prompt,
                              QString& text);

// Replaces the input handler; nullptr restores Qt's input dialog. Returns the old one.
InputHandler SetInputHandler(InputHandler handler);

bool AskText(QWidget* parent, const QString& caption, const QString& prompt, QString& text);

// The same where F2 confirms too and asks for the work to be queued rather
// than followed in front (`queued`). A replaced input handler answers it as it
// answers AskText, never queued.
bool AskTextOrQueue(QWidget* parent, const QString& caption, const QString& prompt, QString& text,
                    bool& queued);

// The same with a drop-down of earlier answers (`recent`, newest first). A
// replaced input handler answers it as it answers AskText.
bool AskTextFrom(QWidget* parent, const QString& caption, const QString& prompt,
                 const QStringList& recent, QString& text);

// The application's general error box: an error with the dialog caption.
void ShowGeneralError(const QString& text);

}  // namespace vantrel::app
