// lang.cpp - property paths resolved by object name, and the properties a
// translation can set.
#include "app/settings/lang.h"

#include <algorithm>
#include <deque>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMetaProperty>
#include <QRadioButton>
#include <QToolButton>
#include <QWidget>

#include "app/dialogs/messages.h"
#include "platform/ini.h"
#include "platform/qt/language_words.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

constexpr const char* kTranslations = "Translations";
constexpr const char* kMessages = "Messages";

// Geometry a translation may give: enough room for longer texts, never a
// window too big to draw.
constexpr int kMaxExtent = 10000;
constexpr int kMaxPosition = 100000;

bool NameIs(const QObject* object, const QString& name) {
  return object->objectName().trimmed().compare(name, Qt::CaseInsensitive) == 0;
}

// A window of its own (the main window, a dialog), as opposed to a popup menu.
bool IsOwnWindow(const QObject* object) {
  const auto* widget = qobject_cast<const QWidget*>(object);
  return widget != nullptr && widget->isWindow() &&
         (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog);
}

QObject* FindWindow(const QString& name) {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (IsOwnWindow(window) && NameIs(window, name)) return window;
  return nullptr;
}

// The first object of that name inside `owner`, nearest first, without
// entering other windows.
QObject* FindInside(QObject* owner, const QString& name) {
  std::deque<QObject*> queue(owner->children().cbegin(), owner->children().cend());
  while (!queue.empty()) {
    QObject* object = queue.front();
    queue.pop_front();
    if (IsOwnWindow(object)) continue;
    if (NameIs(object, name)) return object;
    for (QObject* child : object->children()) queue.push_back(child);
  }
  return nullptr;
}

QString FromUtf8(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// One settable property of an object.
struct TProperty {
  enum class Kind { None, Text, List, Integer } kind = Kind::None;
  std::function<QString()> get;
  std::function<void(const QString&)> set;    // Text
  // List: how many items there are, and each one's text.
  int count = 0;
  std::function<QString(int)> item;
  std::function<void(int, const QString&)> setItem;
  std::function<void(int)> setInteger;        // Integer
};

TProperty TextProperty(std::function<QString()> get, std::function<void(const QString&)> set) {
  TProperty p;
  p.kind = TProperty::Kind::Text;
  p.get = std::move(get);
  p.set = std::move(set);
  return p;
}

// A menu text as the translation files know it: without the "&" that
// underlines a letter (the main window adds those after each translation).
QString WithoutAccelerator(QString text) {
  for (qsizetype i = text.indexOf(QLatin1Char('&')); i >= 0; i = text.indexOf(QLatin1Char('&'), i + 1))
    text.remove(i, 1);  // "&&" keeps one "&"
  return text;
}

TProperty CaptionOf(QObject* object) {
  if (auto* action = qobject_cast<QAction*>(object))
    return TextProperty([action] { return WithoutAccelerator(action->text()); },
                        [action](const QString& v) { action->setText(v); });
  if (auto* menu = qobject_cast<QMenu*>(object))
    return TextProperty([menu] { return WithoutAccelerator(menu->title()); },
                        [menu](const QString& v) { menu->setTitle(v); });
  if (auto* group = qobject_cast<QGroupBox*>(object))
    return TextProperty([group] { return group->title(); },
                        [group](const QString& v) { group->setTitle(v); });
  if (auto* button = qobject_cast<QAbstractButton*>(object))
    return TextProperty([button] { return button->text(); },
                        [button](const QString& v) { button->setText(v); });
  if (auto* label = qobject_cast<QLabel*>(object))
    return TextProperty([label] { return label->text(); },
                        [label](const QString& v) { label->setText(v); });
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget != nullptr && widget->isWindow())
    return TextProperty([widget] { return widget->windowTitle(); },
                        [widget](const QString& v) { widget->setWindowTitle(v); });
  return {};
}

TProperty HintOf(QObject* object) {
  // A tool button shows its action's tool tip.
  if (auto* tool = qobject_cast<QToolButton*>(object); tool && tool->defaultAction())
    object = tool->defaultAction();
  if (auto* action = qobject_cast<QAction*>(object))
    return TextProperty([action] { return action->toolTip(); },
                        [action](const QString& v) { action->setToolTip(v); });
  if (auto* widget = qobject_cast<QWidget*>(object))
    return TextProperty([widget] { return widget->toolTip(); },
                        [widget](const QString& v) { widget->setToolTip(v); });
  return {};
}

// The radio buttons of a group box, the choices of a drop-down list, or the
// column titles of a list or its header.
TProperty ItemsOf(QObject* object) {
  TProperty p;
  if (auto* combo = qobject_cast<QComboBox*>(object)) {
    p.count = combo->count();
    p.item = [combo](int i) { return combo->itemText(i); };
    p.setItem = [combo](int i, const QString& v) { combo->setItemText(i, v); };
  } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
    const QList<QRadioButton*> buttons = group->findChildren<QRadioButton*>();
    p.count = static_cast<int>(buttons.size());
    p.item = [buttons](int i) { return buttons[i]->text(); };
    p.setItem = [buttons](int i, const QString& v) { buttons[i]->setText(v); };
  } else {
    QAbstractItemModel* model = nullptr;
    if (auto* header = qobject_cast<QHeaderView*>(object)) model = header->model();
    else if (auto* view = qobject_cast<QAbstractItemView*>(object)) model = view->model();
    if (model != nullptr) {
      p.count = model->columnCount();
      p.item = [model](int i) { return model->headerData(i, Qt::Horizontal).toString(); };
      p.setItem = [model](int i, const QString& v) { model->setHeaderData(i, Qt::Horizontal, v); };
    }
  }
  if (p.count > 0) p.kind = TProperty::Kind::List;
  return p;
}

// Left, Top, Width, Height. A window moves or resizes; a control inside a
// laid-out window takes a width or height as its least size.
TProperty GeometryOf(QObject* object, const QString& name) {
  auto* widget = qobject_cast<QWidget*>(object);
  TProperty p;
  if (widget == nullptr) return p;
  const QString n = name.toLower();
  const bool window = widget->isWindow();
  auto extent = [](int v) { return std::clamp(v, 0, kMaxExtent); };
  auto position = [](int v) { return std::clamp(v, -kMaxPosition, kMaxPosition); };
  if (n == QLatin1String("left")) {
    p.get = [widget] { return QString::number(widget->x()); };
    p.setInteger = [=](int v) { if (window) widget->move(position(v), widget->y()); };
  } else if (n == QLatin1String("top")) {
    p.get = [widget] { return QString::number(widget->y()); };
    p.setInteger = [=](int v) { if (window) widget->move(widget->x(), position(v)); };
  } else if (n == QLatin1String("width")) {
    p.get = [widget] { return QString::number(widget->width()); };
    p.setInteger = [=](int v) {
      if (window) widget->resize(extent(v), widget->height());
      else widget->setMinimumWidth(extent(v));
    };
  } else if (n == QLatin1String("height")) {
    p.get = [widget] { return QString::number(widget->height()); };
    p.setInteger = [=](int v) {
      if (window) widget->resize(widget->width(), extent(v));
      else widget->setMinimumHeight(extent(v));
    };
  } else {
    return p;
  }
  p.kind = TProperty::Kind::Integer;
  return p;
}

// Any other text property Qt knows by that name ("text", "toolTip",
// "placeholderText", ...). The object name is not one: paths depend on it.
TProperty QtTextProperty(QObject* object, const QString& name) {
  const QMetaObject* meta = object->metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    const QString propertyName = QLatin1String(property.name());
    if (propertyName.compare(name, Qt::CaseInsensitive) != 0) continue;
    if (!property.isWritable() || property.metaType().id() != QMetaType::QString ||
        propertyName == QLatin1String("objectName"))
      return {};
    return TextProperty([object, property] { return property.read(object).toString(); },
                        [object, property](const QString& v) { property.write(object, v); });
  }
  return {};
}

TProperty FindProperty(QObject* object, const QString& name) {
  if (name.compare(QLatin1String("Caption"), Qt::CaseInsensitive) == 0) return CaptionOf(object);
  if (name.compare(QLatin1String("Hint"), Qt::CaseInsensitive) == 0) return HintOf(object);
  if (name.compare(QLatin1String("Items"), Qt::CaseInsensitive) == 0) return ItemsOf(object);
  TProperty geometry = GeometryOf(object, name);
  if (geometry.kind != TProperty::Kind::None) return geometry;
  return QtTextProperty(object, name);
}

QString ListText(const TProperty& p, const QString& separator) {
  QStringList texts;
  for (int i = 0; i < p.count; ++i) texts << p.item(i);
  return texts.join(separator);
}

}  // namespace

int PluralForm(std::string_view rule, long long n) { return platform::PluralForm(rule, n); }

int PluralFormCount(std::string_view rule) { return platform::PluralFormCount(rule); }

TLanguage::TLanguage(QObject* parent) : QObject(parent) {}

void TLanguage::TranslateButtons() {
  if (translator_ == nullptr) translator_ = new platform::TLanguageWords(this);
  // Installed anew, so that every window hears of the change and words
  // shown already are shown again.
  QCoreApplication::removeTranslator(translator_);
  translator_->Load(LanguageFile);
  QCoreApplication::installTranslator(translator_);
  // Every window hears of it now, not after the next turn of the event loop.
  // (The application passes it on to each window, which tells its controls.)
  QCoreApplication::sendPostedEvents(QCoreApplication::instance(), QEvent::LanguageChange);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}

void TLanguage::SetSeparator(const QString& value) {
  separator_ = value.trimmed().isEmpty() ? QStringLiteral(",") : value;
}

QStringList TLanguage::SplitList(const QString& value, const QString& separator) {
  QStringList items;
  QString rest = value;
  for (qsizetype at = rest.indexOf(separator); at >= 0; at = rest.indexOf(separator)) {
    items << rest.left(at).trimmed();
    rest.remove(0, at + separator.size());
  }
  rest = rest.trimmed();
  if (!rest.isEmpty()) items << rest;
  return items;
}

QObject* TLanguage::Resolve(const QString& path, QString* propertyName, QWidget* window) {
  QString rest = path.trimmed();
  QObject* owner = nullptr;
  bool first = true;
  for (qsizetype dot = rest.indexOf(QLatin1Char('.')); dot >= 0;
       dot = rest.indexOf(QLatin1Char('.'))) {
    const QString name = rest.left(dot).trimmed();
    rest = rest.mid(dot + 1).trimmed();
    if (first) owner = window == nullptr ? FindWindow(name) : NameIs(window, name) ? window : nullptr;
    else if (owner != nullptr) owner = FindInside(owner, name);
    first = false;
  }
  if (propertyName != nullptr) *propertyName = rest;
  return owner;
}

std::optional<QString> TLanguage::ReadProperty(QObject* object, const QString& propertyName,
                                               const QString& separator) {
  const TProperty p = FindProperty(object, propertyName.trimmed());
  switch (p.kind) {
    case TProperty::Kind::None:
      return std::nullopt;
    case TProperty::Kind::List:
      return ListText(p, separator);
    default:
      return p.get();
  }
}

bool TLanguage::Apply(const QString& path, const QString& value, QString* error, QWidget* window) {
  QString propertyName;
  QObject* object = Resolve(path, &propertyName, window);
  if (object == nullptr || value.isEmpty()) return true;
  TProperty p = FindProperty(object, propertyName);
  if (p.kind == TProperty::Kind::None) return true;

  QString newValue = value;
  if (OnTranslate) {
    const QString oldValue =
        p.kind == TProperty::Kind::List ? ListText(p, separator_) : p.get();
    OnTranslate(*this, object, propertyName, oldValue, newValue);
  }
  switch (p.kind) {
    case TProperty::Kind::Text:
      p.set(newValue);
      break;
    case TProperty::Kind::Integer: {
      int64_t number = 0;
      const QByteArray text = newValue.toUtf8();
      if (!platform::IniFile::ParseInteger(std::string_view(text.constData(), text.size()),
                                           number) ||
          number < INT32_MIN || number > INT32_MAX) {
        if (error != nullptr) *error = QStringLiteral("'%1' is not a valid integer value").arg(newValue);
        return false;
      }
      p.setInteger(static_cast<int>(number));
      break;
    }
    case TProperty::Kind::List: {
      // Items beyond the list keep their texts: a radio group of the
      // program always offers all of its choices, a list all its columns.
      const QStringList texts = SplitList(newValue, separator_);
      for (int i = 0; i < std::min(static_cast<int>(texts.size()), p.count); ++i) p.setItem(i, texts[i]);
      break;
    }
    case TProperty::Kind::None:
      break;
  }
  return true;
}

bool TLanguage::Translate() {
  if (OnBeforeTranslation) OnBeforeTranslation(*this);
  if (!ApplyFile(nullptr)) return false;
  if (OnAfterTranslation) OnAfterTranslation(*this);
  return true;
}

bool TLanguage::TranslateWindow(QWidget* window) { return ApplyFile(window); }

bool TLanguage::ApplyFile(QWidget* window) {
  if (LanguageFile.empty()) return true;
  std::vector<std::string> keys;
  keys.reserve(static_cast<size_t>(Properties.size()));
  for (const QString& path : Properties) keys.push_back(path.toStdString());
  const auto values = platform::ReadIniKeys(LanguageFile, kTranslations, keys);
  for (qsizetype i = 0; i < Properties.size(); ++i) {
    if (Properties[i].trimmed().isEmpty()) continue;
    const std::optional<std::string>& value = values[static_cast<size_t>(i)];
    QString error;
    if (!Apply(Properties[i], value ? FromUtf8(*value) : QString(), &error, window)) {
      ShowGeneralError(error);
      return false;
    }
  }
  return true;
}

std::vector<std::string> TLanguage::Messages(const std::vector<std::string>& english) const {
  std::vector<std::string> result = english;
  if (LanguageFile.empty()) return result;
  const auto values = platform::ReadIniKeys(LanguageFile, kMessages, english);
  for (size_t i = 0; i < english.size(); ++i)
    if (values[i] && !values[i]->empty()) result[i] = *values[i];
  return result;
}

}  // namespace vantrel::app
