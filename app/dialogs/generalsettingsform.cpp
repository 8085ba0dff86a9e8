// generalsettingsform.cpp - editor and viewer commands, written to the
// settings file when confirmed.
#include "app/dialogs/generalsettingsform.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/commands/trash_commands.h"
#include "app/dialogs/common_dialogs.h"
#include "app/window/mainform.h"
#include "app/settings/settings.h"
#include "platform/ini.h"

namespace vantrel::app {

namespace {

QString FromUtf8(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text) {
  auto* button = new QPushButton(QLatin1String(text), parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TGeneralSettingsForm::TGeneralSettingsForm(TMainForm& form)
    : TNameDialog(form, QStringLiteral("GeneralSettingsForm"), QStringLiteral("General settings"),
                  601) {
  auto* editorLabel = new QLabel(QStringLiteral("Editor for F4:"), this);
  editorLabel->setObjectName(QStringLiteral("Label1"));
  // What F4 and F3 really start: the portable default "notepad.exe" shows as
  // the platform's editor it stands for.
  editorPath_ = new QLineEdit(FromUtf8(EditorProgram(form.EditorCommand)), this);
  editorPath_->setObjectName(QStringLiteral("EditorPath"));
  editorPath_->setMinimumWidth(260);
  editorLabel->setBuddy(editorPath_);
  auto* viewerLabel = new QLabel(QStringLiteral("Viewer for F3:"), this);
  viewerLabel->setObjectName(QStringLiteral("Label2"));
  viewerPath_ = new QLineEdit(FromUtf8(ViewerProgram(form.ViewerCommand, form.ProgramDir())), this);
  viewerPath_->setObjectName(QStringLiteral("ViewerPath"));
  viewerLabel->setBuddy(viewerPath_);

  auto* terminalLabel = new QLabel(QStringLiteral("Terminal for Shift+F9:"), this);
  terminalLabel->setObjectName(QStringLiteral("Label3"));
  terminal_ = new QLineEdit(this);
  terminal_->setObjectName(QStringLiteral("TerminalCommand"));
  terminal_->setPlaceholderText(QStringLiteral("The desktop's terminal"));
  terminalLabel->setBuddy(terminal_);
  QPushButton* browseTerminal = MakeButton(this, "BrowseTerminal", "Browse");
  QPushButton* defTerminal = MakeButton(this, "DefTerminalButton", "Default");
  connect(browseTerminal, &QPushButton::clicked, this, [this] { Browse(terminal_); });
  connect(defTerminal, &QPushButton::clicked, this, [this] { terminal_->clear(); });

  QPushButton* browseEditor = MakeButton(this, "BrowseEditor", "Browse");
  QPushButton* defEdit = MakeButton(this, "DefEditButton", "Default");
  QPushButton* browseViewer = MakeButton(this, "BrowseViewer", "Browse");
  QPushButton* defView = MakeButton(this, "DefViewButton", "Default");
  connect(browseEditor, &QPushButton::clicked, this, [this] { Browse(editorPath_); });
  connect(browseViewer, &QPushButton::clicked, this, [this] { Browse(viewerPath_); });
  // The defaults: the platform's text editor, the viewer beside the program.
  connect(defEdit, &QPushButton::clicked, this,
          [this] { editorPath_->setText(FromUtf8(EditorProgram(kDefaultEditor))); });
  connect(defView, &QPushButton::clicked, this, [this] {
    viewerPath_->setText(FromUtf8(form_.ProgramDir() + kDefaultViewerName));
  });

  auto* grid = new QGridLayout;
  grid->addWidget(editorLabel, 0, 0, 1, 3);
  grid->addWidget(editorPath_, 1, 0);
  grid->addWidget(browseEditor, 1, 1);
  grid->addWidget(defEdit, 1, 2);
  grid->addWidget(viewerLabel, 2, 0, 1, 3);
  grid->addWidget(viewerPath_, 3, 0);
  grid->addWidget(browseViewer, 3, 1);
  grid->addWidget(defView, 3, 2);
  // Below the rows that follow (the Trash, the threads).
  grid->addWidget(terminalLabel, 7, 0, 1, 3);
  grid->addWidget(terminal_, 8, 0);
  grid->addWidget(browseTerminal, 8, 1);
  grid->addWidget(defTerminal, 8, 2);
  trashCheck_ = new QCheckBox(QStringLiteral("Del and F8 move to the Trash (Shift deletes permanently)"), this);
  trashCheck_->setObjectName(QStringLiteral("TrashCheck"));
  grid->addWidget(trashCheck_, 4, 0, 1, 3);
  // 0 shows as "auto": one thread per processor.
  auto* threadsLabel = new QLabel(QStringLiteral("&Threads for packing and unpacking:"), this);
  threadsLabel->setObjectName(QStringLiteral("ThreadsLabel"));
  threadsSpin_ = new QSpinBox(this);
  threadsSpin_->setObjectName(QStringLiteral("ThreadsSpin"));
  threadsSpin_->setRange(0, kMaxArchiveThreads);
  threadsSpin_->setSpecialValueText(QStringLiteral("auto"));
  threadsLabel->setBuddy(threadsSpin_);
  auto* threadsRow = new QHBoxLayout;
  threadsRow->addWidget(threadsLabel);
  threadsRow->addWidget(threadsSpin_);
  threadsRow->addStretch(1);
  grid->addLayout(threadsRow, 5, 0, 1, 3);
  Body()->addLayout(grid);
  FinishLayout();
  SetTabChain({editorPath_, browseEditor, defEdit, viewerPath_, browseViewer, defView, trashCheck_, threadsSpin_,
               OkButton(), CancelButton(), HelpButton()});
  // The terminal's row after the viewer's in the chain: Ok and the rest follow.
  QWidget::setTabOrder(defView, terminal_);
  QWidget::setTabOrder(terminal_, browseTerminal);
  QWidget::setTabOrder(browseTerminal, defTerminal);
}

void TGeneralSettingsForm::showEvent(QShowEvent* event) {
  // Each opening starts in the editor's field, as a person reads the window.
  editorPath_->setFocus(Qt::OtherFocusReason);
  terminal_->setText(FromUtf8(form_.Settings().ReadString("GENERAL", "Terminal", "")));
  trashCheck_->setChecked(DeleteMovesToTrash(form_));
  threadsSpin_->setValue(ArchiveThreads(form_.Settings()));
  TNameDialog::showEvent(event);
}

void TGeneralSettingsForm::Browse(QLineEdit* edit) {
  // Start where the current program is, when the edit names one by its path.
  const QFileInfo current(edit->text().trimmed());
  TFileRequest request;
  request.title = QStringLiteral("Browse");
  request.directory = current.isAbsolute() ? current.absolutePath() : QString();
  request.filters = {QStringLiteral("Programs (*)")};
  request.programs = true;
  const QString chosen = ChooseFile(this, request);
  if (!chosen.isEmpty()) edit->setText(chosen);
}

void TGeneralSettingsForm::OkButtonClick() {
  // Taken as typed: whether the programs exist shows when they are started.
  // A text that only shows what the setting stands for keeps the setting, so
  // the settings file keeps its portable default.
  const QString editor = editorPath_->text(), viewer = viewerPath_->text();
  if (editor != FromUtf8(EditorProgram(form_.EditorCommand)))
    form_.EditorCommand = editor == FromUtf8(EditorProgram(kDefaultEditor)) ? kDefaultEditor : TypedName(editor);
  if (viewer != FromUtf8(ViewerProgram(form_.ViewerCommand, form_.ProgramDir())))
    form_.ViewerCommand = TypedName(viewer);
  platform::IniFile& ini = form_.Settings();
  // A file that cannot be written keeps the dialog open; the commands apply.
  if (!SaveEditorAndViewer(form_, ini)) return;
  if (threadsSpin_->value() != ArchiveThreads(ini) && !SaveArchiveThreads(ini, threadsSpin_->value())) {
    ReportUnwritable(ini);
    return;
  }
  if (trashCheck_->isChecked() != DeleteMovesToTrash(form_)) SetDeleteMovesToTrash(form_, trashCheck_->isChecked());
  // Written only when changed, so a file without the key keeps following
  // the desktop's choice.
  const std::string terminal = terminal_->text().trimmed().toStdString();
  if (terminal != ini.ReadString("GENERAL", "Terminal", "") && !ini.WriteString("GENERAL", "Terminal", terminal)) return;
  accept();
}

}  // namespace vantrel::app
