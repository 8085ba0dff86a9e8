// conflict_list.cpp - the end-of-job list of files in the way.
#include "app/dialogs/conflict_list.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/messages.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

ConflictListHandler g_handler = nullptr;

fileops::TConflictChoice ShowList(QWidget* parent, const QString& job, const QStringList& items) {
  QDialog box(parent);
  box.setObjectName(QStringLiteral("ConflictList"));
  box.setWindowTitle(QString::fromLatin1(kDialogCaption));
  auto* text = new QLabel(job + QStringLiteral(":\n") +
                              platform::WordedCount("%1 file exists already at the destination.",
                                                    "%1 files exist already at the destination.", items.size()),
                          &box);
  text->setTextFormat(Qt::PlainText);
  auto* list = new QListWidget(&box);
  list->addItems(items);
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(text);
  layout->addWidget(list, 1);
  auto* buttons = new QHBoxLayout;
  layout->addLayout(buttons);
  fileops::TConflictChoice choice = fileops::TConflictChoice::SkipAll;  // Escape
  const auto add = [&](const char* name, const QString& caption, fileops::TConflictChoice value) {
    auto* b = new QPushButton(caption, &box);
    b->setObjectName(QLatin1String(name));
    buttons->addWidget(b);
    QObject::connect(b, &QPushButton::clicked, &box, [&box, &choice, value] {
      choice = value;
      box.accept();
    });
    return b;
  };
  add("OverwriteAllButton", platform::Worded("&Overwrite all"), fileops::TConflictChoice::OverwriteAll);
  add("SkipAllButton", platform::Worded("&Skip all"), fileops::TConflictChoice::SkipAll);
  add("RenameAllButton", platform::Worded("&Rename all"), fileops::TConflictChoice::RenameAll);
  QPushButton* each = add("DecideEachButton", platform::Worded("&Decide each"), fileops::TConflictChoice::DecideEach);
  each->setDefault(true);
  each->setFocus();
  box.resize(480, 320);
  box.exec();
  return choice;
}

}  // namespace

ConflictListHandler SetConflictListHandler(ConflictListHandler handler) {
  ConflictListHandler old = g_handler;
  g_handler = handler;
  return old;
}

fileops::TConflictChoice AskConflictList(QWidget* parent, const QString& job, const QStringList& items) {
  return g_handler != nullptr ? g_handler(parent, job, items) : ShowList(parent, job, items);
}

}  // namespace vantrel::app
