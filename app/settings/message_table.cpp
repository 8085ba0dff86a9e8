// message_table.cpp - the messages table.
#include "app/settings/message_table.h"

#include <array>

namespace vantrel::app {

namespace {

constexpr std::array<const char*, kMessageCount> kEnglish = {
    "There are no selected files", "Copy selected files to:", "Move selected files to:",
    "Delete selected files?",      "Copy files...Wait",       "Move files...Wait",
    "Delete files...Wait",         "Operation aborted",       "Drive not found",
    "Viewer not found",            "Editor not found",
};

std::array<QString, kMessageCount>& Table() {
  static std::array<QString, kMessageCount> table = [] {
    std::array<QString, kMessageCount> t;
    for (int i = 0; i < kMessageCount; ++i) t[i] = QString::fromLatin1(kEnglish[i]);
    return t;
  }();
  return table;
}

}  // namespace

const char* EnglishMessage(TMsg id) { return kEnglish[static_cast<size_t>(id)]; }

const QString& Msg(TMsg id) { return Table()[static_cast<size_t>(id)]; }

void BuildMessagesTable(const std::function<std::string(const std::string&)>& lookup) {
  for (int i = 0; i < kMessageCount; ++i) {
    if (lookup) {
      const std::string text = lookup(kEnglish[i]);
      Table()[i] = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    } else {
      Table()[i] = QString::fromLatin1(kEnglish[i]);
    }
  }
}

}  // namespace vantrel::app
