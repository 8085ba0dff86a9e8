// zip_qt_ui.cpp - Qt dialogs for the ZIP engine's questions.
#include "zip/ui/zip_qt_ui.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"

namespace vantrel::zipui {

namespace {
std::string Bytes(const QString& path) {
  const QByteArray encoded = QFile::encodeName(path);
  return std::string(encoded.constData(), static_cast<size_t>(encoded.size()));
}
}  // namespace

TQtZipUserInterface::~TQtZipUserInterface() {
  // A run ended by an exception must not leave the busy cursor behind.
  while (busyDepth_ > 0) SetBusyCursor(false);
}

bool TQtZipUserInterface::Prompt(TPromptKind kind, const std::string& caption,
                                 const std::string& text) {
  const QString qCaption = platform::ToDisplay(caption);
  const QString qText = platform::ToDisplay(text);
  if (prompt_) return prompt_(kind, qCaption, qText);
  switch (kind) {
    case TPromptKind::Message:
      QMessageBox::warning(parent_, qCaption, qText);
      return true;
    case TPromptKind::YesNo:
      return QMessageBox::question(parent_, qCaption, qText, QMessageBox::Yes | QMessageBox::No) ==
             QMessageBox::Yes;
    case TPromptKind::OkCancel:
      return QMessageBox::information(parent_, qCaption, qText,
                                      QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
  }
  return false;
}

bool TQtZipUserInterface::ChooseArchive(const std::string& title, const std::string& filter,
                                        std::string& name) {
  if (archive_) return archive_(title, filter, name);
  // The engine's filter has the form "text|pattern|text|pattern".
  const QStringList parts = platform::ToDisplay(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    filters << parts[i].section(QLatin1Char('('), 0, 0).trimmed() + QStringLiteral(" (") +
                   QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) + QLatin1Char(')');
  const QString chosen = QFileDialog::getOpenFileName(
      parent_, platform::ToDisplay(title), platform::ToDisplay(name), filters.join(QStringLiteral(";;")));
  if (chosen.isEmpty()) return false;
  name = Bytes(chosen);
  return true;
}

bool TQtZipUserInterface::ChooseDirectory(std::string& dir) {
  if (directory_) return directory_(dir);
  const QString chosen = QFileDialog::getExistingDirectory(
      parent_, platform::Worded("Select a directory"), platform::ToDisplay(dir),
      QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return false;
  dir = Bytes(chosen);
  return true;
}

bool TQtZipUserInterface::AskForDisk(const std::string& text) {
  return Prompt(TPromptKind::OkCancel, std::string(), text);
}

void TQtZipUserInterface::ShowMessage(const std::string& text, const std::string& caption) {
  Prompt(TPromptKind::Message, caption, text);
}

bool TQtZipUserInterface::AskYesNo(const std::string& text, const std::string& caption) {
  return Prompt(TPromptKind::YesNo, caption, text);
}

zip::TOverwriteAnswer TQtZipUserInterface::AskOverwrite(const std::string& text,
                                                       const std::string& caption,
                                                       const zip::TOverwriteFacts& entry,
                                                       const zip::TOverwriteFacts& existing) {
  if (overwrite_) return overwrite_(caption, text, entry, existing);
  return zip::TZipUserInterface::AskOverwrite(text, caption, entry, existing);
}

void TQtZipUserInterface::SetBusyCursor(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyDepth_;
  } else if (busyDepth_ > 0) {
    QApplication::restoreOverrideCursor();
    --busyDepth_;
  }
}

void TQtZipUserInterface::ProcessMessages() { QCoreApplication::processEvents(); }

}  // namespace vantrel::zipui
