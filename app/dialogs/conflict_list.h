// conflict_list.h - the one question at the end of a background job about
// the files it found in its way: the list of them with "Overwrite all",
// "Skip all", "Rename all" and "Decide each".
#pragma once

#include <QString>
#include <QStringList>

#include "fileops/deferred.h"

class QWidget;

namespace vantrel::app {

// Shows the list; Escape skips them all, Enter decides each (nothing is
// replaced unasked).
using ConflictListHandler = fileops::TConflictChoice (*)(QWidget* parent, const QString& job,
                                                        const QStringList& items);
// Replaces the dialog (tests); nullptr restores it. Returns the old handler.
ConflictListHandler SetConflictListHandler(ConflictListHandler handler);

fileops::TConflictChoice AskConflictList(QWidget* parent, const QString& job, const QStringList& items);

}  // namespace vantrel::app
