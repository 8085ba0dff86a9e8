// key_bar.cpp - the function-key bar and its modifier layers.
#include "app/window/key_bar.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QStyleOptionToolButton>
#include <QStylePainter>

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

void TKeyButton::SetKey(const QString& text, const QString& tip) {
  tip_ = tip;
  setText(text);
  Refit();
}

int TKeyButton::TextWidth() const {
  // As the style lays the label out: inside the button's frame.
  QStyleOptionToolButton option;
  initStyleOption(&option);
  const QRect button = style()->subControlRect(QStyle::CC_ToolButton, &option, QStyle::SC_ToolButton, this);
  return button.width() - 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
}

QString TKeyButton::ShownText() const {
  const QString whole = text();
  const QFontMetrics metrics = fontMetrics();
  const int width = TextWidth();
  if (metrics.horizontalAdvance(whole) <= width) return whole;
  // The key ("F3") stays; the word after it is cut short while a letter of
  // it is left, then goes.
  const qsizetype space = whole.indexOf(QLatin1Char(' '));
  const QString key = space < 0 ? whole : whole.left(space);
  const QString word = space < 0 ? QString() : whole.mid(space + 1);
  if (!word.isEmpty()) {
    const QString cut = metrics.elidedText(word, Qt::ElideRight, width - metrics.horizontalAdvance(key + u' '));
    if (cut.size() > 1 && metrics.horizontalAdvance(key + u' ' + cut) <= width) return key + u' ' + cut;
  }
  return metrics.horizontalAdvance(key) <= width ? key : QString();
}

void TKeyButton::Refit() {
  const qsizetype space = text().indexOf(QLatin1Char(' '));
  const QString word = space < 0 ? QString() : text().mid(space + 1);
  setToolTip(ShownText() == text() || word.isEmpty() || tip_.isEmpty() ? tip_ : tip_ + u' ' + word);
  update();
}

void TKeyButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionToolButton option;
  initStyleOption(&option);
  option.text = ShownText();
  painter.drawComplexControl(QStyle::CC_ToolButton, option);
}

void TKeyButton::resizeEvent(QResizeEvent* event) {
  QToolButton::resizeEvent(event);
  Refit();
}

void TKeyButton::changeEvent(QEvent* event) {
  QToolButton::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Refit();
}

TKeyBar::TKeyBar(TMainForm& form) : QWidget(&form), form_(form) {
  setObjectName(QStringLiteral("KeyBar"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  for (int i = 0; i < 10; ++i) {
    auto* button = new TKeyButton(this);
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

TKeyButton* TKeyBar::Button(int number) const {
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
    buttons_[i]->SetKey(QStringLiteral("F%1 ").arg(i + 1) + label,
                        label.isEmpty() ? QString() : prefix + QStringLiteral("F%1").arg(i + 1));
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
