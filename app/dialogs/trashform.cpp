// trashform.cpp - the Trash window.
#include "app/dialogs/trashform.h"

#include <algorithm>
#include <cerrno>

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/dialogs/messages.h"
#include "fileops/deferred.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"

namespace vantrel::app {

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;

QString Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return platform::ToDisplay(slash == 0 ? std::string("/") : path.substr(0, slash));
}

QString Leaf(const std::string& path) { return platform::ToDisplay(path.substr(path.rfind('/') + 1)); }

}  // namespace

TTrashForm::TTrashForm(platform::TrashEnv env, std::vector<std::string> topdirs, QWidget* parent)
    : QDialog(parent), env_(std::move(env)), topdirs_(std::move(topdirs)) {
  setObjectName(QStringLiteral("TrashForm"));
  setWindowTitle(QStringLiteral("Trash"));
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("TrashList"));
  list_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Original location"), QStringLiteral("Deleted")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSortingEnabled(true);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  const auto button = [this](const char* name, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* restore = button("RestoreButton", QStringLiteral("&Restore"));
  QPushButton* erase = button("DeleteButton", QStringLiteral("&Delete"));
  QPushButton* empty = button("EmptyButton", QStringLiteral("&Empty Trash"));
  QPushButton* close = button("CloseButton", QStringLiteral("Close"));
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {restore, erase, empty}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  connect(restore, &QPushButton::clicked, this, [this] { RestoreSelected(); });
  connect(erase, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(empty, &QPushButton::clicked, this, [this] { EmptyTrash(); });
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  resize(640, 400);
  Reload();
}

void TTrashForm::Reload() {
  items_.clear();
  for (const platform::TrashDir& trash : platform::ExistingTrashDirs(env_, topdirs_)) {
    std::vector<platform::TrashedItem> items = platform::ListTrash(trash);
    items_.insert(items_.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
  }
  // Newest first, as a trash is mostly looked into for what just went.
  std::stable_sort(items_.begin(), items_.end(),
                   [](const auto& a, const auto& b) { return a.deletionDate > b.deletionDate; });
  list_->setSortingEnabled(false);
  list_->clear();
  for (size_t i = 0; i < items_.size(); ++i) {
    const platform::TrashedItem& item = items_[i];
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, Leaf(item.originalPath));
    row->setText(1, Parent(item.originalPath));
    row->setText(2, item.deletionDate > 0
                        ? QDateTime::fromSecsSinceEpoch(item.deletionDate).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                        : QString());
    row->setData(0, kIndexRole, static_cast<qulonglong>(i));
  }
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
}

std::vector<size_t> TTrashForm::Selected() const {
  std::vector<size_t> which;
  for (const QTreeWidgetItem* row : list_->selectedItems())
    which.push_back(static_cast<size_t>(row->data(0, kIndexRole).toULongLong()));
  if (which.empty() && list_->currentItem() != nullptr)
    which.push_back(static_cast<size_t>(list_->currentItem()->data(0, kIndexRole).toULongLong()));
  return which;
}

int TTrashForm::RestoreSelected() {
  int done = 0;
  QStringList failed;
  for (const size_t i : Selected()) {
    const platform::TrashedItem& item = items_[i];
    int error = platform::RestoreFromTrash(item);
    if (error == EEXIST) {
      // The name is taken: the item comes back beside it under a free name,
      // if the user wants that; nothing there is ever replaced.
      const size_t slash = item.originalPath.rfind('/');
      const std::string dir = slash == 0 ? std::string("/") : item.originalPath.substr(0, slash);
      const std::string free = fileops::FreeName(dir, item.originalPath.substr(slash + 1));
      const QString question = QStringLiteral("%1 exists already.\n\nRestore it as %2?")
                                   .arg(platform::ToDisplay(item.originalPath), platform::ToDisplay(free));
      if (ShowMessage(this, MessageKind::Question, QString::fromLatin1(kDialogCaption), question) !=
          MessageAnswer::Yes)
        continue;
      error = platform::RestoreFromTrash(item, dir == "/" ? "/" + free : dir + "/" + free);
    }
    if (error == 0)
      ++done;
    else
      failed << platform::ToDisplay(item.originalPath) + QStringLiteral(": ") +
                    QString::fromStdString(platform::ErrorText(error));
  }
  if (!failed.isEmpty())
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("These items could not be restored:\n") + failed.join(QLatin1Char('\n')));
  Reload();
  if (done > 0) emit restored();
  return done;
}

int TTrashForm::Erase(const std::vector<size_t>& which, const QString& question) {
  if (which.empty()) return 0;
  if (ShowMessage(this, MessageKind::Question, QString::fromLatin1(kDialogCaption), question) != MessageAnswer::Yes)
    return 0;
  int done = 0;
  QStringList failed;
  for (const size_t i : which) {
    const int error = platform::EraseFromTrash(items_[i]);
    if (error == 0)
      ++done;
    else
      failed << platform::ToDisplay(items_[i].originalPath) + QStringLiteral(": ") +
                    QString::fromStdString(platform::ErrorText(error));
  }
  if (!failed.isEmpty())
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("These items could not be deleted:\n") + failed.join(QLatin1Char('\n')));
  Reload();
  return done;
}

int TTrashForm::DeleteSelected() {
  const std::vector<size_t> which = Selected();
  return Erase(which, QStringLiteral("Delete %1 items permanently? They cannot be restored.").arg(which.size()));
}

int TTrashForm::EmptyTrash() {
  std::vector<size_t> all(items_.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  return Erase(all, QStringLiteral("Empty the Trash? %1 items will be deleted permanently.").arg(all.size()));
}

namespace {
bool OwnKey(int key) {
  return key == Qt::Key_F5 || key == Qt::Key_F6 || key == Qt::Key_F8 || key == Qt::Key_Delete;
}
}  // namespace

bool TTrashForm::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride && OwnKey(static_cast<QKeyEvent*>(event)->key())) {
    event->accept();
    return true;
  }
  return QDialog::event(event);
}

void TTrashForm::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_F5:
    case Qt::Key_F6:
      RestoreSelected();
      return;
    case Qt::Key_F8:
    case Qt::Key_Delete:
      DeleteSelected();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace vantrel::app
