// propertiesform.cpp - the Properties dialog.
#include "app/dialogs/propertiesform.h"

#include <sys/stat.h>

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/dialogs/messages.h"
#include "platform/text.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

QString Shown(const std::string& bytes) { return QString::fromStdString(platform::DisplayName(bytes)); }

QString TimeText(const platform::TimeStamp& t) {
  return QDateTime::fromSecsSinceEpoch(t.seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Bytes(uint64_t n) {
  const QString shown = Shown(platform::FormatThousands(n));
  return n == 1 ? platform::Worded("%1 byte").arg(shown)
                : platform::WordedCount("%1 byte", "%1 bytes", static_cast<long long>(n), shown);
}

QString TypeText(const std::string& path, const platform::FileDetails& d) {
  static const QMimeDatabase db;
  QMimeType type;
  if (d.isLink)
    type = db.mimeTypeForName(QStringLiteral("inode/symlink"));
  else if (d.isDirectory)
    type = db.mimeTypeForName(QStringLiteral("inode/directory"));
  else if (!S_ISREG(d.mode))
    type = db.mimeTypeForName(S_ISFIFO(d.mode) ? QStringLiteral("inode/fifo")
                              : S_ISSOCK(d.mode) ? QStringLiteral("inode/socket")
                              : S_ISCHR(d.mode) ? QStringLiteral("inode/chardevice")
                                                : QStringLiteral("inode/blockdevice"));
  else {
    // Judged by name and by the first bytes, read through the platform layer.
    const std::string head = platform::ReadFileHead(path, 4096);
    const std::string name = path.substr(path.rfind('/') + 1);
    type = db.mimeTypeForFileNameAndData(Shown(name), QByteArray(head.data(), static_cast<qsizetype>(head.size())));
  }
  if (!type.isValid()) return platform::Worded("unknown");
  return type.comment() + QStringLiteral(" (") + type.name() + QLatin1Char(')');
}

}  // namespace

TPropertiesForm::TPropertiesForm(const std::string& path, QWidget* parent)
    : QDialog(parent), path_(path) {
  setObjectName(QStringLiteral("PropertiesForm"));
  const std::string name = path.size() > 1 ? path.substr(path.rfind('/') + 1) : path;
  setWindowTitle(platform::Worded("Properties of %1").arg(Shown(name)));
  auto* form = new QFormLayout;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  setLayout(layout);

  std::string error;
  if (!platform::GetFileDetails(path, details_, &error)) {
    AddRow(platform::Worded("Name:"), QStringLiteral("PropName"), Shown(name));
    AddRow(platform::Worded("Error:"), QStringLiteral("PropError"), Shown(error));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    return;
  }
  AddRow(platform::Worded("Name:"), QStringLiteral("PropName"), Shown(name));
  AddRow(platform::Worded("Full path:"), QStringLiteral("PropPath"), Shown(path));
  AddRow(platform::Worded("Type:"), QStringLiteral("PropType"), TypeText(path, details_));
  if (details_.isLink)
    AddRow(platform::Worded("Link target:"), QStringLiteral("PropTarget"), Shown(details_.linkTarget));
  sizeLabel_ = AddRow(platform::Worded("Size:"), QStringLiteral("PropSize"), Bytes(details_.size));
  if (details_.isDirectory) {
    stopButton_ = new QPushButton(platform::Worded("Stop"), this);
    stopButton_->setObjectName(QStringLiteral("PropStop"));
    connect(stopButton_, &QPushButton::clicked, this, &TPropertiesForm::StopMeasuring);
    form->addRow(QString(), stopButton_);
  }
  AddRow(platform::Worded("Modified:"), QStringLiteral("PropModified"), TimeText(details_.modified));
  AddRow(platform::Worded("Accessed:"), QStringLiteral("PropAccessed"), TimeText(details_.accessed));
  AddRow(platform::Worded("Changed:"), QStringLiteral("PropChanged"), TimeText(details_.changed));
  AddRow(platform::Worded("Created:"), QStringLiteral("PropCreated"),
         details_.hasBirthTime ? TimeText(details_.born)
                               : platform::Worded("not recorded by the file system"));
  AddRow(platform::Worded("Owner:"), QStringLiteral("PropOwner"),
         Shown(details_.owner) + QStringLiteral(" (%1)").arg(details_.uid));
  AddRow(platform::Worded("Group:"), QStringLiteral("PropGroup"),
         Shown(details_.group) + QStringLiteral(" (%1)").arg(details_.gid));

  // Permissions: owner, group, others across; read, write, execute down.
  editable_ = platform::CanChangePermissions(details_);
  auto* grid = new QGridLayout;
  const char* who[] = {"Owner", "Group", "Others"};
  const char* what[] = {"Read", "Write", "Execute"};
  for (int c = 0; c < 3; ++c) grid->addWidget(new QLabel(platform::Worded(what[c]), this), 0, c + 1);
  for (int r = 0; r < 3; ++r) {
    grid->addWidget(new QLabel(platform::Worded(who[r]), this), r + 1, 0);
    for (int c = 0; c < 3; ++c) {
      auto* box = new QCheckBox(this);
      const int i = r * 3 + c;
      box->setObjectName(QStringLiteral("Perm%1%2").arg(QLatin1String(who[r]), QLatin1String(what[c])));
      box->setEnabled(editable_);
      connect(box, &QCheckBox::toggled, this, [this, i](bool on) {
        const uint32_t bit = 0400u >> i;
        ShowMode(on ? (mode_ | bit) : (mode_ & ~bit));
      });
      boxes_[static_cast<size_t>(i)] = box;
      grid->addWidget(box, r + 1, c + 1);
    }
  }
  octal_ = new QLineEdit(this);
  octal_->setObjectName(QStringLiteral("PropOctal"));
  octal_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]{1,4}")), octal_));
  octal_->setReadOnly(!editable_);
  connect(octal_, &QLineEdit::textEdited, this, [this](const QString& text) {
    bool ok = false;
    const uint32_t mode = text.toUInt(&ok, 8);
    if (ok) ShowMode(mode);
  });
  grid->addWidget(new QLabel(platform::Worded("Octal:"), this), 4, 0);
  grid->addWidget(octal_, 4, 1, 1, 3);
  form->addRow(platform::Worded("Permissions:"), grid);
  ShowMode(details_.mode & 07777);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Apply()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  if (details_.isDirectory) StartMeasuring();
}

TPropertiesForm::~TPropertiesForm() { StopMeasuring(); }

QLabel* TPropertiesForm::AddRow(const QString& caption, const QString& name, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  static_cast<QFormLayout*>(layout()->itemAt(0)->layout())->addRow(caption, label);
  return label;
}

QString TPropertiesForm::Field(const QString& name) const {
  const auto* label = findChild<QLabel*>(name);
  return label != nullptr ? label->text() : QString();
}

void TPropertiesForm::ShowMode(uint32_t mode) {
  mode_ = mode & 07777;
  for (int i = 0; i < 9; ++i) {
    QCheckBox* box = boxes_[static_cast<size_t>(i)];
    const QSignalBlocker quiet(box);
    box->setChecked(mode_ & (0400u >> i));
  }
  const QString text = QStringLiteral("%1").arg(mode_, 4, 8, QLatin1Char('0'));
  if (octal_->text().toUInt(nullptr, 8) != mode_ || octal_->text().isEmpty()) octal_->setText(text);
}

bool TPropertiesForm::Apply() {
  if (!editable_ || mode_ == (details_.mode & 07777)) return true;
  std::string error;
  if (!platform::SetPermissions(path_, mode_, details_, &error)) {
    ShowMessage(this, MessageKind::Error, QString::fromLatin1(kDialogCaption),
                QStringLiteral("Cannot change the permissions of \"%1\": %2.").arg(Shown(path_), Shown(error)));
    return false;
  }
  details_.mode = (details_.mode & ~07777u) | mode_;
  return true;
}

void TPropertiesForm::StartMeasuring() {
  measuring_ = true;
  stop_ = false;
  sizeLabel_->setText(platform::Worded("counting..."));
  measurer_ = std::thread([this] {
    const platform::TreeTotals totals = platform::MeasureTree(path_, stop_, [this](const platform::TreeTotals& t) {
      QMetaObject::invokeMethod(this, [this, t] { ShowTotals(t, false); }, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(this, [this, totals] { ShowTotals(totals, true); }, Qt::QueuedConnection);
  });
}

void TPropertiesForm::StopMeasuring() {
  stop_ = true;
  if (measurer_.joinable()) measurer_.join();
}

// The files' words ("in %1 files") go into the directories' sentence, which
// takes the form of the directories' count.
QString FilesAndDirectoriesText(uint64_t files, uint64_t directories) {
  const QString inFiles = platform::WordedCount("in %1 file", "in %1 files", static_cast<long long>(files),
                                                Shown(platform::FormatThousands(files)));
  return platform::WordedForm("%1, %2 directory", "%1, %2 directories", static_cast<long long>(directories))
      .arg(inFiles, Shown(platform::FormatThousands(directories)));
}

void TPropertiesForm::ShowTotals(const platform::TreeTotals& t, bool done) {
  if (!measuring_) return;
  QString text = Bytes(t.bytes) + QLatin1Char(' ') + FilesAndDirectoriesText(t.files, t.directories);
  if (t.unreadable) text += QLatin1Char(' ') + platform::WordedCount("(%1 directory could not be read)",
                                                                       "(%1 directories could not be read)",
                                                                       static_cast<long long>(t.unreadable));
  if (done) {
    if (measurer_.joinable()) measurer_.join();
    measuring_ = false;
    if (stop_) text += QLatin1Char(' ') + platform::Worded("so far (stopped)");
    if (stopButton_) stopButton_->setEnabled(false);
  } else {
    text += QStringLiteral("...");
  }
  sizeLabel_->setText(text);
}

}  // namespace vantrel::app
