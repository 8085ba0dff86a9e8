// messages.cpp - message boxes through a replaceable handler.
#include "app/dialogs/messages.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QShortcut>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <utility>
#include <vector>

#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

// A message box whose text can be selected and copied (with the mouse, or a
// click and Ctrl+A, Ctrl+C): an error's wording is what a user quotes when
// asking for help.
class TMessageBox final : public QMessageBox {
 public:
  TMessageBox(Icon icon, const QString& caption, const QString& text, StandardButtons buttons,
              QWidget* parent)
      : QMessageBox(icon, caption, text, buttons, parent) {
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The box sizes itself to its text when shown; a row as wide as the
    // caption keeps the window manager from cutting the title.
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
      QFont bold = font();
      bold.setBold(true);
      const int width = QFontMetrics(bold).horizontalAdvance(caption) + 100;
      grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                    grid->columnCount());
    }
  }
};

// The lines of messages made with numbers or names in them, as the
// program words them in English: %1 and %2 stand for the pieces. A counted
// line's piece is a count, and its words take the count's plural form.
struct TLinePattern {
  const char* english;
  bool counted;
};
constexpr TLinePattern kLinePatterns[] = {
    {"Move %1 items to the Trash?", true},
    {"Delete %1 items permanently? They cannot be restored.", true},
    {"Empty the Trash? %1 items will be deleted permanently.", true},
    {"Could not move to the Trash %1: %2", false},
    {"Could not restore %1: %2", false},
    {"Could not delete file %1", false},  // the copy engine's, before the Trash's that it would match
    {"Could not delete %1: %2", false},
    {"Can not create directory %1!", false},
    {"Can not create file %1!", false},
    {"Could not create directory %1", false},
    {"... and %1 more", false},
    {"Retry the %1 failed items?", true},
    {"%1 items were skipped:", true},
    {"%1 items could not be compared:", true},
    {"%1: changed since the comparison, left alone", false},
    // The copy engine's own, the longer texts first.
    {"Could not copy file %1 onto itself", false},
    {"Could not copy directory %1 into itself", false},
    {"Could not copy file %1", false},
    {"Could not find file %1", false},
    {"Invalid file name %1", false},
    {"Overwrite file %1?", false},
    {"Replace existing file %1?", false},  // the ZIP engine's
    {"Unable to write to %1", false},
    {"'%1' is not a valid integer value", false},
    // Why an archive or a directory cannot be changed (vfs, formats).
    {"The archive is read-only: %1", false},
    {"The directory is read-only: %1", false},
    {"The archive is damaged (%1); it is shown read-only", false},
    {"%1 archives are read-only here; pack a new one with Alt+F5", false},
    {"%1 files are read-only here; pack a new one with Alt+F5", false},
    {"This archive is damaged: %1 entries could be read. Show them?", true},
};

// A pattern as an expression: the pieces as groups, the rest literal.
const std::vector<std::pair<QRegularExpression, TLinePattern>>& LinePatterns() {
  static const auto patterns = [] {
    std::vector<std::pair<QRegularExpression, TLinePattern>> out;
    for (const TLinePattern& pattern : kLinePatterns) {
      QString expression = QRegularExpression::escape(QString::fromUtf8(pattern.english));
      expression.replace(QRegularExpression(QStringLiteral("\\\\%[1-9]")), QStringLiteral("(.+)"));
      out.emplace_back(QRegularExpression(QLatin1Char('^') + expression + QLatin1Char('$')), pattern);
    }
    return out;
  }();
  return patterns;
}

QString WordedLine(const QString& line) {
  if (line.trimmed().isEmpty()) return line;
  const QByteArray key = line.toUtf8();
  // Compared with the key as the toolkit reads it back, so that a line the
  // round trip through UTF-8 would change is never replaced by its copy.
  const QString whole = platform::Worded(key.constData());
  if (whole != QString::fromUtf8(key)) return whole;
  for (const auto& [expression, pattern] : LinePatterns()) {
    const QRegularExpressionMatch match = expression.match(line);
    if (!match.hasMatch()) continue;
    const QStringList pieces = match.capturedTexts().mid(1);
    if (pattern.counted) {
      bool isCount = false;
      const qlonglong n = pieces[0].toLongLong(&isCount);
      if (!isCount) continue;
      return platform::WordedCount(pattern.english, pattern.english, n, pieces[0]);
    }
    // Each piece replaces its own marker once (a piece holding "%2" stays).
    const QString worded = platform::Worded(pattern.english);
    if (pieces.size() == 1) return worded.arg(pieces[0]);
    if (pieces.size() == 2) return worded.arg(pieces[0], pieces[1]);
    return worded.arg(pieces[0], pieces[1], pieces[2]);
  }
  return line;
}

MessageAnswer QtMessageBox(QWidget* parent, MessageKind kind, const QString& caption,
                           const QString& text) {
  switch (kind) {
    case MessageKind::Information:
      TMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, parent).exec();
      return MessageAnswer::Ok;
    case MessageKind::Warning:
      TMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent).exec();
      return MessageAnswer::Ok;
    case MessageKind::Error:
      TMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent).exec();
      return MessageAnswer::Ok;
    case MessageKind::Question:
      return TMessageBox(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                         parent)
                         .exec() == QMessageBox::Yes
                 ? MessageAnswer::Yes
                 : MessageAnswer::No;
    case MessageKind::Plain: {
      TMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
      box.exec();
      return MessageAnswer::Ok;
    }
    case MessageKind::Failure: {
      // The buttons say what they do, in this order.
      TMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton, parent);
      QPushButton* skip = box.addButton(platform::Worded("Skip"), QMessageBox::AcceptRole);
      skip->setObjectName(QStringLiteral("SkipButton"));
      QPushButton* skipAll = box.addButton(platform::Worded("Skip all"), QMessageBox::AcceptRole);
      skipAll->setObjectName(QStringLiteral("SkipAllButton"));
      QPushButton* abort = box.addButton(platform::Worded("Abort"), QMessageBox::AcceptRole);
      abort->setObjectName(QStringLiteral("AbortButton"));
      QPushButton* retry = box.addButton(platform::Worded("Retry"), QMessageBox::AcceptRole);
      retry->setObjectName(QStringLiteral("RetryButton"));
      box.setDefaultButton(skip);
      box.setEscapeButton(skip);  // Escape goes on with the next item
      box.exec();
      if (box.clickedButton() == skipAll) return MessageAnswer::SkipAll;
      if (box.clickedButton() == abort) return MessageAnswer::Abort;
      if (box.clickedButton() == retry) return MessageAnswer::Retry;
      return MessageAnswer::Ok;
    }
    case MessageKind::JobsRunning: {
      TMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
      QPushButton* keep = box.addButton(platform::Worded("Continue"), QMessageBox::RejectRole);
      keep->setObjectName(QStringLiteral("ContinueButton"));
      QPushButton* cancel = box.addButton(platform::Worded("Cancel jobs"), QMessageBox::DestructiveRole);
      cancel->setObjectName(QStringLiteral("CancelJobsButton"));
      QPushButton* wait = box.addButton(platform::Worded("Wait"), QMessageBox::AcceptRole);
      wait->setObjectName(QStringLiteral("WaitButton"));
      box.setDefaultButton(keep);
      box.setEscapeButton(keep);
      box.exec();
      if (box.clickedButton() == cancel) return MessageAnswer::Abort;
      if (box.clickedButton() == wait) return MessageAnswer::Yes;
      return MessageAnswer::Ok;
    }
    case MessageKind::Summary: {
      TMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
      QPushButton* copy = box.addButton(platform::Worded("Copy list"), QMessageBox::ActionRole);
      copy->setObjectName(QStringLiteral("CopyListButton"));
      // An action button would close the box: it copies and stays instead.
      copy->disconnect();
      QObject::connect(copy, &QPushButton::clicked, &box,
                       [text] { QGuiApplication::clipboard()->setText(text); });
      box.setEscapeButton(box.button(QMessageBox::Ok));  // else Escape would do nothing
      box.exec();
      return MessageAnswer::Ok;
    }
    case MessageKind::QuestionAll: {
      TMessageBox box(QMessageBox::Question, caption, text,
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel |
                          QMessageBox::YesToAll | QMessageBox::NoToAll,
                      parent);
      box.button(QMessageBox::YesToAll)->setText(platform::Worded("&All"));
      box.button(QMessageBox::NoToAll)->setText(platform::Worded("N&one"));
      switch (box.exec()) {
        case QMessageBox::Yes:
          return MessageAnswer::Yes;
        case QMessageBox::YesToAll:
          return MessageAnswer::All;
        case QMessageBox::No:
          return MessageAnswer::No;
        case QMessageBox::NoToAll:
          return MessageAnswer::None;
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
  return g_handler(parent, kind, caption, WordedMessage(text));
}

QString WordedMessage(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& line : lines) line = WordedLine(line);
  return lines.join(QLatin1Char('\n'));
}

InputHandler SetInputHandler(InputHandler handler) {
  InputHandler old = g_inputHandler;
  g_inputHandler = handler != nullptr ? handler : &QtInputBox;
  return old;
}

bool AskText(QWidget* parent, const QString& caption, const QString& prompt, QString& text) {
  return g_inputHandler(parent, caption, prompt, text);
}

bool AskTextOrQueue(QWidget* parent, const QString& caption, const QString& prompt, QString& text,
                    bool& queued) {
  queued = false;
  if (g_inputHandler != &QtInputBox) return g_inputHandler(parent, caption, prompt, text);
  QInputDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("QueueableInput"));
  dialog.setWindowTitle(caption);
  dialog.setLabelText(prompt);
  dialog.setTextValue(text);
  auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), &dialog);
  QObject::connect(f2, &QShortcut::activated, &dialog, [&] {
    queued = true;
    dialog.accept();
  });
  if (dialog.exec() != QDialog::Accepted) {
    queued = false;
    return false;
  }
  text = dialog.textValue();
  return true;
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
