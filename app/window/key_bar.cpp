// key_bar.cpp - the function-key bar and its modifier layers.
#include "app/window/key_bar.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>

#include "app/window/mainform.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

// What each function key does in each layer: the label and the command.
struct TKeyDef {
  const char* label;
  const char* command;  // the main window's action, or nullptr
};

constexpr TKeyDef kPlain[10] = {{"Help", "mnuHlpContents"}, {"", nullptr},
                                {"View", "mnuFileView"},    {"Edit", "mnuFileEdit"},
                                {"Copy", "mnuFileCopy"},    {"Move", "mnuFileMove"},
                                {"MkDir", "mnuCmndMkDir"},  {"Delete", "mnuFileDelete"},
                                {"Menu", "actMenuBar"},     {"Menu", "actMenuBar"}};
constexpr TKeyDef kShift[10] = {{"", nullptr},        {"", nullptr}, {"", nullptr},
                                {"New", "mnuFileNew"}, {"", nullptr}, {"Rename", "mnuFileRename"},
                                {"", nullptr},        {"", nullptr}, {"Term", "mnuCmndTerminal"},
                                {"", nullptr}};
constexpr TKeyDef kAlt[10] = {{"Left", "mnuLftChDrive"}, {"Right", "mnuRghtChDrive"},
                              {"", nullptr},            {"", nullptr},
                              {"Pack", "mnuFilePack"},  {"", nullptr},
                              {"Find", "mnuCmndFindFile"}, {"", nullptr},
                              {"Unpack", "mnuFileUnpack"}, {"", nullptr}};
constexpr TKeyDef kCtrl[10] = {};
// In the Trash F5 and F6 put the items back, F8 deletes them for good, and
// what would change the Trash otherwise is refused: those keys show nothing.
constexpr TKeyDef kTrashPlain[10] = {{"Help", "mnuHlpContents"},  {"", nullptr},
                                     {"View", "mnuFileView"},     {"", nullptr},
                                     {"Put back", "mnuFileCopy"}, {"Put back", "mnuFileMove"},
                                     {"", nullptr},               {"Erase", "mnuFileDelete"},
                                     {"Menu", "actMenuBar"},      {"Menu", "actMenuBar"}};
constexpr TKeyDef kTrashShift[10] = {{"", nullptr}, {"", nullptr}, {"", nullptr},
                                     {"", nullptr}, {"", nullptr}, {"", nullptr},
                                     {"", nullptr}, {"", nullptr}, {"Term", "mnuCmndTerminal"},
                                     {"", nullptr}};

const TKeyDef* LayerOf(Qt::KeyboardModifiers mods, bool trash) {
  if (trash && mods == Qt::ShiftModifier) return kTrashShift;
  if (trash && mods == Qt::NoModifier) return kTrashPlain;
  if (mods == Qt::ShiftModifier) return kShift;
  if (mods == Qt::AltModifier) return kAlt;
  if (mods == Qt::ControlModifier) return kCtrl;
  return kPlain;
}

Qt::KeyboardModifiers LayerModifiers(Qt::KeyboardModifiers mods) {
  mods &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  // One modifier at a time; a chord shows the plain layer.
  return mods == Qt::ShiftModifier || mods == Qt::ControlModifier || mods == Qt::AltModifier ? mods
                                                                                              : Qt::NoModifier;
}

}  // namespace

TKeyBar::TKeyBar(TMainForm& form) : QWidget(&form), form_(form) {
  setObjectName(QStringLiteral("KeyBar"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  for (int i = 0; i < 10; ++i) {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("KeyF%1").arg(i + 1));
    button->setFocusPolicy(Qt::NoFocus);  // the panel keeps the keyboard
    button->setAutoRaise(true);
    // The bar never makes the window wider: the buttons share what there is.
    button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    button->setMinimumWidth(8);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(button, &QToolButton::clicked, this, [this, i] {
      if (QAction* command = Command(i + 1); command != nullptr && command->isEnabled()) command->trigger();
    });
    layout->addWidget(button, 1);
    buttons_[i] = button;
  }
  ShowLayer(Qt::NoModifier);
  qApp->installEventFilter(this);
}

QToolButton* TKeyBar::Button(int number) const {
  return number >= 1 && number <= 10 ? buttons_[number - 1] : nullptr;
}

QAction* TKeyBar::Command(int number) const {
  if (number < 1 || number > 10) return nullptr;
  const char* name = LayerOf(layer_, trash_)[number - 1].command;
  return name != nullptr ? form_.Action(QLatin1String(name)) : nullptr;
}

std::vector<std::string> TKeyBar::Words() {
  std::vector<std::string> words;
  for (const TKeyDef* layer : {kPlain, kShift, kAlt, kCtrl, kTrashPlain, kTrashShift})
    for (int i = 0; i < 10; ++i)
      if (layer[i].label != nullptr && *layer[i].label != '\0' &&
          std::find(words.begin(), words.end(), layer[i].label) == words.end())
        words.emplace_back(layer[i].label);
  return words;
}

void TKeyBar::ShowLayer(Qt::KeyboardModifiers modifiers) {
  layer_ = LayerModifiers(modifiers);
  const TKeyDef* layer = LayerOf(layer_, trash_);
  const QString prefix = layer_ == Qt::ShiftModifier     ? QStringLiteral("Shift+")
                         : layer_ == Qt::ControlModifier ? QStringLiteral("Ctrl+")
                         : layer_ == Qt::AltModifier     ? QStringLiteral("Alt+")
                                                         : QString();
  for (int i = 0; i < 10; ++i) {
    const char* word = layer[i].label;  // (none at all in the Ctrl layer)
    const QString label = word != nullptr && *word != '\0' ? platform::KeyWord(word) : QString();
    buttons_[i]->setText(QStringLiteral("F%1 ").arg(i + 1) + label);
    buttons_[i]->setToolTip(label.isEmpty() ? QString() : prefix + QStringLiteral("F%1").arg(i + 1));
    buttons_[i]->setEnabled(layer[i].command != nullptr);
  }
}

void TKeyBar::SetTrashPlace(bool trash) {
  if (trash == trash_) return;
  trash_ = trash;
  ShowLayer(layer_);
}

bool TKeyBar::eventFilter(QObject* watched, QEvent* event) {
  // The layer follows the modifier keys wherever the program has the
  // keyboard; a window change shows the state the keys are in then.
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* key = static_cast<QKeyEvent*>(event);
      const int k = key->key();
      if ((k == Qt::Key_Shift || k == Qt::Key_Control || k == Qt::Key_Alt || k == Qt::Key_Meta) &&
          LayerModifiers(key->modifiers()) != layer_ && watched->isWidgetType())
        ShowLayer(key->modifiers());
      break;
    }
    case QEvent::LanguageChange:
      if (watched == this) ShowLayer(layer_);
      break;
    case QEvent::ApplicationStateChange:
    case QEvent::WindowActivate:
      if (layer_ != LayerModifiers(QGuiApplication::queryKeyboardModifiers()))
        ShowLayer(QGuiApplication::queryKeyboardModifiers());
      break;
    default:
      break;
  }
  return false;
}

}  // namespace vantrel::app
