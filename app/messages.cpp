// messages.cpp - message boxes through a replaceable handler.
#include "app/messages.h"

#include <QApplication>
#include <QMessageBox>

namespace vantrel::app {

namespace {

MessageAnswer QtMessageBox(QWidget* parent, MessageKind kind, const QString& caption,
                           const QString& text) {
  switch (kind) {
    case MessageKind::Information:
      QMessageBox::information(parent, caption, text);
      return MessageAnswer::Ok;
    case MessageKind::Warning:
      QMessageBox::warning(parent, caption, text);
      return MessageAnswer::Ok;
    case MessageKind::Error:
      QMessageBox::critical(parent, caption, text);
      return MessageAnswer::Ok;
    case MessageKind::Question:
      return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No) ==
                     QMessageBox::Yes
                 ? MessageAnswer::Yes
                 : MessageAnswer::No;
  }
  return MessageAnswer::Ok;
}

MessageHandler g_handler = &QtMessageBox;

}  // namespace

MessageHandler SetMessageHandler(MessageHandler handler) {
  MessageHandler old = g_handler;
  g_handler = handler != nullptr ? handler : &QtMessageBox;
  return old;
}

MessageAnswer ShowMessage(QWidget* parent, MessageKind kind, const QString& caption,
                          const QString& text) {
  return g_handler(parent, kind, caption, text);
}

void ShowGeneralError(const QString& text) {
  ShowMessage(QApplication::activeWindow(), MessageKind::Error, QString::fromLatin1(kDialogCaption),
              text);
}

}  // namespace vantrel::app
