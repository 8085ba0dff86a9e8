// lang.h - TLanguage, the translation component: switches the texts of the
// program's windows to another language from a translation file ("*.lng").
//
// A translation file is INI text in UTF-8 with two sections. "Translations"
// has one key per property path ("MainForm.mnuFiles.Caption",
// "NewFileForm.Label1.Caption", "PanelSettingsForm.SortGroup.Items") whose
// value is the new text; "Messages" has one key per English message text
// whose value is its translation.
//
// A message with a count in it ("Done, %1 items failed") has one form for
// each plural form of the language, separated by "|", in the order of the
// file's rule: key "Plural rule" of section "Language", one of
//   one-other   - 1; every other count (English, German);
//   east-slavic - 1, 21, 31, ... but 11; 2-4, 22-24, ... but 12-14; every
//                 other count (Russian, Ukrainian, Belarusian).
// A file without a rule (or with one not known) counts as one-other.
//
// A path names a window by its object name, then controls inside it, and
// ends with a property. Names compare without regard to ASCII case and
// surrounding blanks. The first name is looked up among the application's
// windows, each next one among the objects inside the previous one (not
// descending into other windows, so a dialog owned by the main window is
// reached through its own name only). The properties:
//   Caption - a window's title, a label's, button's or action's text, a
//             group box's or menu's title;
//   Hint    - a tool tip (a tool button's goes to its action);
//   Items   - the texts of a group box's radio buttons, the choices of a
//             drop-down list, or the column titles of a list or a header, in
//             order; the value holds them joined by the separator;
//   Left, Top, Width, Height and any integer or text property Qt knows by
//             that name (an integer value must be a whole number).
// An empty or missing translation never clears a text; a path that leads
// nowhere is skipped.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>
#include <QStringList>

class QWidget;

namespace vantrel::platform {
class TLanguageWords;
}

namespace vantrel::app {

// Which form of a counted message `rule` (see above) takes for `n`, from 0;
// and how many forms the rule has.
int PluralForm(std::string_view rule, long long n);
int PluralFormCount(std::string_view rule);

class TLanguage : public QObject {
  Q_OBJECT

 public:
  // Called for each property about to be set; may change `newValue`.
  using TLanguageNotifyEvent =
      std::function<void(TLanguage& sender, QObject* component, const QString& propertyName,
                         const QString& oldValue, QString& newValue)>;

  explicit TLanguage(QObject* parent = nullptr);

  // The translation file; empty translates nothing.
  std::string LanguageFile;
  // The property paths to translate, in order.
  QStringList Properties;

  // The separator of list values; an empty or blank one is stored as ",".
  const QString& Separator() const { return separator_; }
  void SetSeparator(const QString& value);

  std::function<void(TLanguage& sender)> OnBeforeTranslation;
  std::function<void(TLanguage& sender)> OnAfterTranslation;  // after a complete run
  TLanguageNotifyEvent OnTranslate;

  // Applies the file's value of every path of Properties, in order. A value
  // for an integer property that is no whole number ends the run with
  // "'<value>' is not a valid integer value" in the general error box (the
  // properties before it stay set); returns false then.
  bool Translate();

  // The same for the paths of one window only, resolved inside `window`
  // (a window made after the run, or one of two of the same name); the
  // notifications before and after are not called.
  bool TranslateWindow(QWidget* window);

  // The translations of `english` texts from section "Messages", each the
  // English text itself when the file has no (or an empty) translation.
  std::vector<std::string> Messages(const std::vector<std::string>& english) const;

  // The toolkit's own button texts (OK, Cancel, Yes, No, ... of every message
  // box and input dialog) from section "Buttons", whose keys are those words
  // in English without "&"; a missing key leaves the English word. And the
  // program's words made while it runs (Worded, platform/qt/wording.h) from
  // section "Messages", keyed by their English text. Applies to the whole
  // application: every window is told that the language changed.
  void TranslateButtons();

  // Sets one property path to `value`; false only for the integer error above
  // (then `error` holds the message). An empty value changes nothing.
  // With `window`, the path is resolved inside that window (its first name
  // must be the window's).
  bool Apply(const QString& path, const QString& value, QString* error = nullptr, QWidget* window = nullptr);

  // The object a path names (all names but the last) and the property name,
  // or nullptr when a name leads nowhere; the first name is looked up among
  // the application's windows, or must be `window`'s.
  static QObject* Resolve(const QString& path, QString* propertyName = nullptr, QWidget* window = nullptr);

  // The current text of a property (a list joined by `separator`), or nothing
  // when the object has no such property.
  static std::optional<QString> ReadProperty(QObject* object, const QString& propertyName,
                                             const QString& separator);

  // A list value cut at each separator: the trimmed text before it becomes an
  // item (empty ones too); the trimmed rest is the last item unless empty.
  static QStringList SplitList(const QString& value, const QString& separator);

 private:
  bool ApplyFile(QWidget* window);  // nullptr: every window

  QString separator_ = QStringLiteral(",");
  platform::TLanguageWords* translator_ = nullptr;  // installed on the first run
};

}  // namespace vantrel::app
