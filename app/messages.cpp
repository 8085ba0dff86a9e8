// messages.cpp - message boxes through a replaceable handler.
#include "app/messages.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

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
    case MessageKind::Plain: {
      QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
      box.exec();
      return MessageAnswer::Ok;
    }
    case MessageKind::Failure: {
      QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
      QPushButton* skipAll = box.addButton(QStringLiteral("Skip all"), QMessageBox::AcceptRole);
      skipAll->setObjectName(QStringLiteral("SkipAllButton"));
      QPushButton* abort = box.addButton(QStringLiteral("Abort"), QMessageBox::RejectRole);
      abort->setObjectName(QStringLiteral("AbortButton"));
      box.exec();
      if (box.clickedButton() == skipAll) return MessageAnswer::SkipAll;
      if (box.clickedButton() == abort) return MessageAnswer::Abort;
      return MessageAnswer::Ok;
    }
    case MessageKind::Summary: {
      QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
      QPushButton* copy = box.addButton(QStringLiteral("Copy list"), QMessageBox::ActionRole);
      copy->setObjectName(QStringLiteral("CopyListButton"));
      // An action button would close the box: it copies and stays instead.
      copy->disconnect();
      QObject::connect(copy, &QPushButton::clicked, &box,
                       [text] { QGuiApplication::clipboard()->setText(text); });
      box.exec();
      return MessageAnswer::Ok;
    }
    case MessageKind::QuestionAll: {
      QMessageBox box(QMessageBox::Question, caption, text,
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel |
                          QMessageBox::YesToAll,
                      parent);
      box.button(QMessageBox::YesToAll)->setText(QStringLiteral("All"));
      switch (box.exec()) {
        case QMessageBox::Yes:
          return MessageAnswer::Yes;
        case QMessageBox::YesToAll:
          return MessageAnswer::All;
        case QMessageBox::No:
          return MessageAnswer::No;
        default:  // Cancel, Escape
          return MessageAnswer::Cancel;
      }
    }
  }
  return MessageAnswer::Ok;
}

bool QtInputBox(QWidget* parent, const QString& caption, const QString& prompt, QString& text) {
  bool ok = false;
  const QString answer =
      QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, text, &ok);
  if (ok) text = answer;
  return ok;
}

InputHandler g_inputHandler = &QtInputBox;

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

InputHandler SetInputHandler(InputHandler handler) {
  InputHandler old = g_inputHandler;
  g_inputHandler = handler != nullptr ? handler : &QtInputBox;
  return old;
}

bool AskText(QWidget* parent, const QString& caption, const QString& prompt, QString& text) {
  return g_inputHandler(parent, caption, prompt, text);
}

bool AskTextFrom(QWidget* parent, const QString& caption, const QString& prompt,
                 const QStringList& recent, QString& text) {
  if (g_inputHandler != &QtInputBox) return g_inputHandler(parent, caption, prompt, text);
  QStringList items = recent;
  if (!text.isEmpty() && !items.contains(text)) items.prepend(text);
  bool ok = false;
  const QString answer = QInputDialog::getItem(parent, caption, prompt, items,
                                               std::max<qsizetype>(0, items.indexOf(text)), true, &ok);
  if (ok) text = answer;
  return ok;
}

void ShowGeneralError(const QString& text) {
  ShowMessage(QApplication::activeWindow(), MessageKind::Error, QString::fromLatin1(kDialogCaption),
              text);
}

}  // namespace vantrel::app
