// zip_dialogs.h - how the ZIP windows run their modal steps, behind seams.
//
// The ZIP window, the pack dialog and the destination prompt are modal. The
// program runs them with exec() and QInputDialog; a test installs a runner
// that drives the dialog (ticks rows, presses buttons) and returns, and an
// answer for the one-line prompt, so no test ever waits on a dialog.
#pragma once

#include <functional>
#include <string>

#include <QString>

class QDialog;
class QWidget;

namespace vantrel::zipui {

// Runs `dialog` modally and returns its result code.
using TModalRunner = std::function<int(QDialog& dialog)>;
// Replaces the runner; an empty one restores exec(). Returns the old one.
TModalRunner SetModalRunner(TModalRunner runner);
int RunModal(QDialog& dialog);

// The one-line input box: caption, prompt and the text, preset on entry and
// the typed text on return; false = Cancel. A secret text (a password) is
// shown as bullets while it is typed.
using TInputQuery =
    std::function<bool(const QString& caption, const QString& prompt, QString& text, bool secret)>;
TInputQuery SetInputQuery(TInputQuery query);
bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& text,
                bool secret = false);

// A path shown in an edit field: the text the user sees for `bytes`, and back.
// Names are bytes; text the user left as it was shown gives the original bytes
// back, even when they are not valid UTF-8.
QString PathToText(const std::string& bytes);
std::string TextToPath(const QString& text, const std::string& shownBytes);

}  // namespace vantrel::zipui
