// language_words.h - the words of a translation file ("*.lng") for the
// toolkit: the program's own words asked for by their English text
// (platform/qt/wording.h) from section "Messages", each counted message in
// the form the section "Language"'s plural rule gives its count, the key
// bar's labels from section "Key bar" (else "Messages"), and the toolkit's
// standard button texts from section "Buttons". Shared by the
// file manager and the viewer it starts, so both speak the same language.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include <QHash>
#include <QString>
#include <QTranslator>

namespace vantrel::platform {

// Which form of a counted message `rule` takes for `n`, from 0: "one-other"
// (1; every other count) or "east-slavic" (1, 21, 31... but 11; 2-4,
// 22-24... but 12-14; every other count). And how many forms the rule has.
int PluralForm(std::string_view rule, long long n);
int PluralFormCount(std::string_view rule);

class TLanguageWords final : public QTranslator {
 public:
  using QTranslator::QTranslator;

  // Takes the words of `file` ("" none: every text stays English). The
  // buttons and the rule are read now, each message when it is first asked
  // for. Not installed: the caller installs it (anew, so every window hears
  // of the change).
  void Load(const std::string& file);
  const std::string& File() const { return file_; }

  // `n` is a count (0 or more) for a counted message: its form for `n`.
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override;
  bool isEmpty() const override { return buttons_.isEmpty() && file_.empty(); }

 private:
  QHash<QString, QString> buttons_;  // English word without "&" -> translation
  std::string file_;
  std::string pluralRule_;
  mutable std::mutex mutex_;
  mutable std::map<std::string, QString, std::less<>> words_;
  mutable std::map<std::string, QString, std::less<>> keyWords_;  // the key bar's, "" none
};

// For a program of its own (the viewer): loads `file` and installs the words
// for the whole application. Does nothing for "".
void InstallLanguageWords(const std::string& file);

}  // namespace vantrel::platform
