// overwrite_question.cpp - the overwrite question with both files' facts.
#include "app/dialogs/overwrite_question.h"

#include <algorithm>
#include <cstdint>

#include "app/dialogs/messages.h"
#include "panels/dirmodel.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"
#include "platform/text.h"

namespace vantrel::app {

namespace {

// "New:      1,234 bytes, 05.03.2024 10:00", the label padded to `width`.
std::string Facts(const QString& label, qsizetype width, const TOverwriteSide& side) {
  const platform::FileTime t = platform::FileTimeFromUnix(side.writeTime, 0);
  const auto count = static_cast<long long>(std::min<uint64_t>(side.size, INT64_MAX));
  const QString bytes = platform::WordedCount("%1 byte", "%1 bytes", count,
                                              QString::fromStdString(platform::FormatThousands(side.size)));
  const QString line = label.leftJustified(width) + bytes + QStringLiteral(", ") +
                       QString::fromStdString(panels::DateText(t) + " " + panels::TimeText(t));
  const QByteArray text = line.toUtf8();
  return std::string(text.constData(), static_cast<size_t>(text.size()));
}

}  // namespace

std::string OverwriteQuestionText(const std::string& question, const TOverwriteSide& incoming,
                                  const TOverwriteSide& existing) {
  // The labels in the language chosen, the facts lined up after the longer.
  const QString newLabel = platform::Worded("New:"), existingLabel = platform::Worded("Existing:");
  const qsizetype width = std::max(newLabel.size(), existingLabel.size()) + 1;
  return question + "\n\n" + Facts(newLabel, width, incoming) + "\n" + Facts(existingLabel, width, existing);
}

TOverwriteChoice AskOverwriteQuestion(QWidget* parent, const std::string& caption,
                                      const std::string& question, const TOverwriteSide& incoming,
                                      const TOverwriteSide& existing) {
  // The caption is the copy engine's or the ZIP engine's fixed English ("Confirm").
  switch (ShowMessage(parent, MessageKind::QuestionAll, platform::Worded(caption.c_str()),
                      platform::ToDisplay(OverwriteQuestionText(question, incoming, existing)))) {
    case MessageAnswer::Yes: return TOverwriteChoice::Yes;
    case MessageAnswer::All: return TOverwriteChoice::All;
    case MessageAnswer::None: return TOverwriteChoice::None;
    case MessageAnswer::Cancel: return TOverwriteChoice::Cancel;
    default: return TOverwriteChoice::No;
  }
}

}  // namespace vantrel::app
