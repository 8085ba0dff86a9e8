// zip_dialogs.cpp - the modal runner and the input box of the ZIP windows.
#include "zip/ui/zip_dialogs.h"

#include <QDialog>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>

#include "platform/qt/volumes.h"

namespace vantrel::zipui {

namespace {
TModalRunner& Runner() {
  static TModalRunner runner;
  return runner;
}
TInputQuery& Query() {
  static TInputQuery query;
  return query;
}
}  // namespace

TModalRunner SetModalRunner(TModalRunner runner) {
  TModalRunner old = std::move(Runner());
  Runner() = std::move(runner);
  return old;
}

int RunModal(QDialog& dialog) {
  if (Runner()) return Runner()(dialog);
  return dialog.exec();
}

TInputQuery SetInputQuery(TInputQuery query) {
  TInputQuery old = std::move(Query());
  Query() = std::move(query);
  return old;
}

bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& text,
                bool secret) {
  if (Query()) return Query()(caption, prompt, text, secret);
  bool ok = false;
  const QString typed = QInputDialog::getText(
      parent, caption, prompt, secret ? QLineEdit::Password : QLineEdit::Normal, text, &ok);
  if (ok) text = typed;
  return ok;
}

QString PathToText(const std::string& bytes) { return platform::ToDisplay(bytes); }

std::string TextToPath(const QString& text, const std::string& shownBytes) {
  if (text == PathToText(shownBytes)) return shownBytes;
  const QByteArray encoded = QFile::encodeName(text);
  return std::string(encoded.constData(), static_cast<size_t>(encoded.size()));
}

}  // namespace vantrel::zipui
