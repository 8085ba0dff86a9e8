// gui_test_support.h - helpers shared by the widget tests: scratch trees with
// chosen sizes and times, a scripted message handler, settings files.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "app/messages.h"

namespace vantrel::testing {

// A message box that was "shown".
struct TShownMessage {
  app::MessageKind kind;
  QString caption;
  QString text;
};

// Collects every message instead of showing it, answering OK / No.
inline std::vector<TShownMessage>& ShownMessages() {
  static std::vector<TShownMessage> shown;
  return shown;
}

inline app::MessageAnswer RecordMessage(QWidget*, app::MessageKind kind, const QString& caption,
                                        const QString& text) {
  ShownMessages().push_back({kind, caption, text});
  return kind == app::MessageKind::Question ? app::MessageAnswer::No : app::MessageAnswer::Ok;
}

inline void InstallRecorder() {
  app::SetMessageHandler(&RecordMessage);
  ShownMessages().clear();
}

// Creates `path` holding `size` bytes with the given local modification time
// (year, month, day, hour, minute), when `year` is not 0.
inline bool MakeFile(const std::string& path, size_t size, int year = 0, int month = 1,
                     int day = 1, int hour = 0, int minute = 0) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const std::string data(size, 'x');
  const bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  ::close(fd);
  if (ok && year != 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
  }
  return ok;
}

inline std::string Std(const QString& s) { return s.toStdString(); }

inline void WriteText(const std::string& path, const std::string& text) {
  QFile file(QString::fromStdString(path));
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.data(), text.size());
}

inline QString ReadText(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

// The keys of `section` in file order ("Key=Value" lines).
inline QStringList SectionLines(const QString& text, const QString& section) {
  QStringList lines;
  bool inside = false;
  for (const QString& raw : text.split(QLatin1Char('\n'))) {
    const QString line = raw.trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inside = line.compare(QLatin1Char('[') + section + QLatin1Char(']'), Qt::CaseInsensitive) == 0;
    } else if (inside && !line.isEmpty()) {
      lines << line;
    }
  }
  return lines;
}

inline QStringList KeysOf(const QStringList& lines) {
  QStringList keys;
  for (const QString& line : lines) keys << line.section(QLatin1Char('='), 0, 0);
  return keys;
}

}  // namespace vantrel::testing
