// zip_ui.cpp - the non-interactive answers of the ZIP engine's user interface.
#include "zip/zip_ui.h"

namespace vantrel::zip {

bool TZipUserInterface::ChooseArchive(const std::string&, const std::string&, std::string&) {
  return false;
}
bool TZipUserInterface::ChooseDirectory(std::string&) { return false; }
bool TZipUserInterface::AskForDisk(const std::string&) { return false; }
void TZipUserInterface::ShowMessage(const std::string&, const std::string&) {}
bool TZipUserInterface::AskYesNo(const std::string&, const std::string&) { return false; }
TOverwriteAnswer TZipUserInterface::AskOverwrite(const std::string& text, const std::string& caption,
                                                 const TOverwriteFacts&, const TOverwriteFacts&) {
  return AskYesNo(text, caption) ? TOverwriteAnswer::Yes : TOverwriteAnswer::No;
}
void TZipUserInterface::SetBusyCursor(bool) {}
void TZipUserInterface::ProcessMessages() {}

TZipUserInterface& DefaultZipUserInterface() {
  static TZipUserInterface ui;
  return ui;
}

}  // namespace vantrel::zip
