// common_dialogs.h - the platform's file, colour and font dialogs behind one
// seam, like the message boxes: the program uses Qt's dialogs, tests install
// scripted answers so that no dialog waits for a person.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

class QWidget;

namespace vantrel::app {

// What a file dialog is asked for.
struct TFileRequest {
  QString title;
  QString directory;       // where it starts
  QStringList filters;     // "Vantrel palette (*.vnp)", ...
  int filterIndex = 0;     // the filter selected at the start
  QString defaultSuffix;   // added to a typed name without one
  bool save = false;       // a save dialog that asks before replacing a file
  bool programs = false;   // list directories and executable files only
  int helpContext = 0;     // F1 in the dialog opens this topic (0: none)
};

// The chosen file's full path; empty when the user cancelled.
using FileDialogHandler = QString (*)(QWidget* parent, const TFileRequest& request);
// Opens the colour picker preset to `color`; false when cancelled.
using ColorDialogHandler = bool (*)(QWidget* parent, QColor& color);
// Opens the font dialog preset to `font`; false when cancelled.
using FontDialogHandler = bool (*)(QWidget* parent, QFont& font, int helpContext);

// Offers `items` (not editable), `current` chosen at the start; the index
// chosen, -1 when cancelled.
using ItemDialogHandler = int (*)(QWidget* parent, const QString& title, const QString& prompt,
                                  const QStringList& items, int current);

// Each setter returns the old handler; nullptr restores Qt's dialog.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);
ColorDialogHandler SetColorDialogHandler(ColorDialogHandler handler);
FontDialogHandler SetFontDialogHandler(FontDialogHandler handler);
ItemDialogHandler SetItemDialogHandler(ItemDialogHandler handler);

QString ChooseFile(QWidget* parent, const TFileRequest& request);
bool ChooseColor(QWidget* parent, QColor& color);
bool ChooseFont(QWidget* parent, QFont& font, int helpContext);
int ChooseItem(QWidget* parent, const QString& title, const QString& prompt, const QStringList& items,
               int current);

}  // namespace vantrel::app
