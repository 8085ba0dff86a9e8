// wording.h - the program's own words made while it runs (a state, a menu
// item built when it opens, a key's label), in the language chosen: the
// translation file's "Messages" section keyed by the English text, else the
// English text itself. Windows showing such words hear QEvent::LanguageChange
// when the language changes. A counted message (WordedCount) takes the form
// of its count by the translation file's plural rule.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace vantrel::platform {

inline constexpr const char* kWordingContext = "Vantrel";

inline QString Worded(const char* english) { return QCoreApplication::translate(kWordingContext, english); }

// A function key's label on the key bar ("Copy"): the translation file's
// "Key bar" section keyed by the English word, where a language may shorten
// it to fit; else the word as Worded gives it (a menu's "Copy" is whole).
inline constexpr const char* kKeyBarSection = "Key bar";
inline QString KeyWord(const char* english) {
  return QCoreApplication::translate(kWordingContext, english, kKeyBarSection);
}

// A message with a count in it, %1 standing for the count. `other` ("Done,
// %1 items failed") is its key; a language gives as many forms as its plural
// rule has. Without a translation it is English: `one` for 1, `other` for
// every other count. `shown` is what fills in %1 ("1,234"), by default the
// count itself.
//
// WordedForm is the form alone, its markers left to fill in: for a message
// with more pieces than the count ("%1 found in %2 files", whose form is the
// one of %2).
inline QString WordedForm(const char* one, const char* other, long long n) {
  if (n < 0) n = -n;
  // The toolkit takes the count as an int; the rules look only at whether it
  // is 1 and at its last two digits, which this keeps for larger counts.
  const int asked = n <= 1000000 ? static_cast<int>(n) : static_cast<int>(1000000 + n % 1000000);
  const QString worded = QCoreApplication::translate(kWordingContext, other, nullptr, asked);
  if (worded == QString::fromUtf8(other)) return QString::fromUtf8(n == 1 ? one : other);
  return worded;
}
inline QString WordedCount(const char* one, const char* other, long long n, const QString& shown) {
  return WordedForm(one, other, n).arg(shown);
}
inline QString WordedCount(const char* one, const char* other, long long n) {
  return WordedCount(one, other, n, QString::number(n));
}

}  // namespace vantrel::platform
