// language_words.cpp - a translation file's words for the toolkit.
#include "platform/qt/language_words.h"

#include <algorithm>
#include <vector>

#include <QCoreApplication>
#include <QStringList>

#include "platform/ini.h"
#include "platform/qt/wording.h"

namespace vantrel::platform {

namespace {

constexpr const char* kMessages = "Messages";
constexpr const char* kButtons = "Buttons";
constexpr const char* kLanguageSection = "Language";
constexpr const char* kPluralRule = "Plural rule";
constexpr const char* kButtonWords[] = {"OK",   "Cancel", "Yes",   "No",    "Close", "Help",
                                        "Open", "Save",   "Abort", "Retry", "Ignore"};

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

int PluralForm(std::string_view rule, long long n) {
  if (n < 0) n = -n;
  if (rule == "east-slavic") {
    const long long ones = n % 10, tens = n % 100;
    if (ones == 1 && tens != 11) return 0;
    if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14)) return 1;
    return 2;
  }
  return n == 1 ? 0 : 1;
}

int PluralFormCount(std::string_view rule) { return rule == "east-slavic" ? 3 : 2; }

void TLanguageWords::Load(const std::string& file) {
  const std::lock_guard<std::mutex> lock(mutex_);
  buttons_.clear();
  words_.clear();
  keyWords_.clear();
  pluralRule_.clear();
  file_ = file;
  if (file.empty()) return;
  pluralRule_ = ReadIniKeys(file, kLanguageSection, {kPluralRule}).front().value_or("");
  const std::vector<std::string> keys(std::begin(kButtonWords), std::end(kButtonWords));
  const auto values = ReadIniKeys(file, kButtons, keys);
  for (size_t i = 0; i < keys.size(); ++i)
    if (values[i] && !values[i]->empty()) buttons_.insert(QLatin1String(kButtonWords[i]), FromUtf8(*values[i]));
}

QString TLanguageWords::translate(const char* context, const char* sourceText, const char* disambiguation,
                                  int n) const {
  // The generic theme's and the GNOME theme's words ("&Yes", "&OK").
  if (qstrcmp(context, "QPlatformTheme") == 0 || qstrcmp(context, "QGnomeTheme") == 0)
    return buttons_.value(QString::fromUtf8(sourceText).remove(QLatin1Char('&')));
  if (qstrcmp(context, kWordingContext) != 0) return {};
  const std::lock_guard<std::mutex> lock(mutex_);
  if (file_.empty()) return {};
  if (disambiguation != nullptr && qstrcmp(disambiguation, kKeyBarSection) == 0) {
    auto label = keyWords_.find(sourceText);
    if (label == keyWords_.end()) {
      const auto value = ReadIniKeys(file_, kKeyBarSection, {sourceText}).front();
      label = keyWords_.emplace(sourceText, value ? FromUtf8(*value) : QString()).first;
    }
    if (!label->second.isEmpty()) return label->second;
  }
  auto found = words_.find(sourceText);
  if (found == words_.end()) {
    // Looked up once each: the file is read when a word is first shown.
    const auto value = ReadIniKeys(file_, kMessages, {sourceText}).front();
    found = words_.emplace(sourceText, value ? FromUtf8(*value) : QString()).first;
  }
  if (n < 0 || found->second.isEmpty()) return found->second;
  const QStringList forms = found->second.split(QLatin1Char('|'));
  return forms[std::min<qsizetype>(PluralForm(pluralRule_, n), forms.size() - 1)].trimmed();
}

void InstallLanguageWords(const std::string& file) {
  if (file.empty()) return;
  auto* words = new TLanguageWords(QCoreApplication::instance());
  words->Load(file);
  QCoreApplication::installTranslator(words);
}

}  // namespace vantrel::platform
