// overwrite_question.cpp - the overwrite question with both files' facts.
#include "app/dialogs/overwrite_question.h"

#include "app/dialogs/messages.h"
#include "panels/dirmodel.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"

namespace vantrel::app {

namespace {

std::string Facts(const char* label, const TOverwriteSide& side) {
  const platform::FileTime t = platform::FileTimeFromUnix(side.writeTime, 0);
  return std::string(label) + platform::FormatThousands(side.size) + " bytes, " + panels::DateText(t) +
         " " + panels::TimeText(t);
}

}  // namespace

std::string OverwriteQuestionText(const std::string& question, const TOverwriteSide& incoming,
                                  const TOverwriteSide& existing) {
  return question + "\n\n" + Facts("New:      ", incoming) + "\n" + Facts("Existing: ", existing);
}

TOverwriteChoice AskOverwriteQuestion(QWidget* parent, const std::string& caption,
                                      const std::string& question, const TOverwriteSide& incoming,
                                      const TOverwriteSide& existing) {
  switch (ShowMessage(parent, MessageKind::QuestionAll, platform::ToDisplay(caption),
                      platform::ToDisplay(OverwriteQuestionText(question, incoming, existing)))) {
    case MessageAnswer::Yes: return TOverwriteChoice::Yes;
    case MessageAnswer::All: return TOverwriteChoice::All;
    case MessageAnswer::None: return TOverwriteChoice::None;
    case MessageAnswer::Cancel: return TOverwriteChoice::Cancel;
    default: return TOverwriteChoice::No;
  }
}

}  // namespace vantrel::app
