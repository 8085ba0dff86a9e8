// zip_qt_ui.h - the ZIP engine's questions answered with Qt dialogs.
//
// The engine asks through TZipUserInterface; this implementation shows the
// overwrite question ("Replace existing file ...?", caption "File Exists
// Alert", through the program's overwrite handler), its error boxes ("Unknown Compression Method"), the directory
// dialog for a destination of "?", the archive dialog for a name ending in
// "?", the disk prompt, the busy cursor, and lets pending events run while an
// operation goes on. The message boxes go through a prompt handler the
// program sets (so every box of the program passes one seam); the directory
// and archive dialogs have handlers of their own for tests.
#pragma once

#include <functional>
#include <string>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "zip/zip_ui.h"

namespace vantrel::zipui {

enum class TPromptKind {
  Message,   // OK only
  YesNo,     // true = Yes
  OkCancel,  // true = OK
};

class TQtZipUserInterface : public zip::TZipUserInterface {
 public:
  using TPromptHandler =
      std::function<bool(TPromptKind kind, const QString& caption, const QString& text)>;
  // dir / name hold the start on entry and the choice on return; false = Cancel.
  using TDirectoryHandler = std::function<bool(std::string& dir)>;
  using TArchiveHandler =
      std::function<bool(const std::string& title, const std::string& filter, std::string& name)>;
  // The overwrite question with its five answers (the program's own box).
  using TOverwriteHandler = std::function<zip::TOverwriteAnswer(
      const std::string& caption, const std::string& text, const zip::TOverwriteFacts& entry,
      const zip::TOverwriteFacts& existing)>;

  explicit TQtZipUserInterface(QWidget* parent = nullptr) : parent_(parent) {}
  ~TQtZipUserInterface() override;

  // The window the dialogs belong to.
  void SetParent(QWidget* parent) { parent_ = parent; }
  QWidget* Parent() const { return parent_; }

  // Handlers; an empty one restores the Qt dialog.
  void SetPromptHandler(TPromptHandler handler) { prompt_ = std::move(handler); }
  void SetDirectoryHandler(TDirectoryHandler handler) { directory_ = std::move(handler); }
  void SetArchiveHandler(TArchiveHandler handler) { archive_ = std::move(handler); }
  // Without one, the overwrite question is a Yes/No question.
  void SetOverwriteHandler(TOverwriteHandler handler) { overwrite_ = std::move(handler); }

  bool ChooseArchive(const std::string& title, const std::string& filter,
                     std::string& name) override;
  bool ChooseDirectory(std::string& dir) override;
  bool AskForDisk(const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  zip::TOverwriteAnswer AskOverwrite(const std::string& text, const std::string& caption,
                                     const zip::TOverwriteFacts& entry,
                                     const zip::TOverwriteFacts& existing) override;
  void SetBusyCursor(bool busy) override;
  void ProcessMessages() override;

  // Whether the busy cursor is up (tests).
  bool BusyCursorShown() const { return busyDepth_ > 0; }

 private:
  bool Prompt(TPromptKind kind, const std::string& caption, const std::string& text);

  QPointer<QWidget> parent_;
  TPromptHandler prompt_;
  TDirectoryHandler directory_;
  TArchiveHandler archive_;
  TOverwriteHandler overwrite_;
  int busyDepth_ = 0;
};

}  // namespace vantrel::zipui
