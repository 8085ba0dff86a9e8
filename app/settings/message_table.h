// message_table.h - the eleven translatable texts of the main window's
// commands, looked up by their English text.
#pragma once

#include <functional>
#include <string>

#include <QString>

namespace vantrel::app {

enum class TMsg {
  NoSelectedFiles,   // "There are no selected files"
  CopyPrompt,        // "Copy selected files to:"
  MovePrompt,        // "Move selected files to:"
  DeleteQuestion,    // "Delete selected files?"
  CopyWait,          // "Copy files...Wait"
  MoveWait,          // "Move files...Wait"
  DeleteWait,        // "Delete files...Wait"
  OperationAborted,  // "Operation aborted"
  DriveNotFound,     // "Drive not found"
  ViewerNotFound,    // "Viewer not found"
  EditorNotFound,    // "Editor not found"
};

inline constexpr int kMessageCount = 11;

// The English text of a message: its key in a translation file's "Messages"
// section and its default.
const char* EnglishMessage(TMsg id);

// The message as the table holds it now (English until a translation is chosen).
const QString& Msg(TMsg id);

// Rebuilds the table, asking `lookup` for each English text in table order;
// without a lookup every message is its English text. `lookup` returns the
// text to use (UTF-8), the English text itself when it has no translation.
void BuildMessagesTable(const std::function<std::string(const std::string&)>& lookup = {});

}  // namespace vantrel::app
