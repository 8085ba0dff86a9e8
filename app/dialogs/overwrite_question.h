// overwrite_question.h - the one overwrite question of the program, for the
// copy engine ("Overwrite file …?") and for extraction ("Replace existing
// file …?"): the question, then size and time of the new and the existing
// file, with Yes, No, All, None and Cancel.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace vantrel::app {

// Size and modification time of one side of the question.
struct TOverwriteSide {
  uint64_t size = 0;
  int64_t writeTime = 0;  // seconds since 1970-01-01 UTC
};

enum class TOverwriteChoice { Yes, No, All, None, Cancel };

// The question's text: `question` (bytes), then the two sides.
std::string OverwriteQuestionText(const std::string& question, const TOverwriteSide& incoming,
                                  const TOverwriteSide& existing);

// Asks through the message seam (MessageKind::QuestionAll). An answer the box
// did not know counts as No: nothing is overwritten unasked.
TOverwriteChoice AskOverwriteQuestion(QWidget* parent, const std::string& caption,
                                      const std::string& question, const TOverwriteSide& incoming,
                                      const TOverwriteSide& existing);

}  // namespace vantrel::app
