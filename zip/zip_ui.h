// zip_ui.h - what the ZIP engine asks of the user interface.
//
// The engine never shows anything itself. Where it has to ask or tell the user
// (choosing an archive or a directory, the disk prompt, error boxes, the
// overwrite question, the busy cursor, letting pending window messages run) it
// calls a TZipUserInterface. The default implementation answers without
// asking: it cancels the dialogs, keeps existing files and shows nothing. The
// command-line tool and the GUI supply their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vantrel::zip {

// The answers to the overwrite question of an extraction. All replaces this
// and every further existing file of the run, None keeps this and every
// further one, Cancel ends the run before this entry.
enum class TOverwriteAnswer { Yes, No, All, None, Cancel };

// One side of the overwrite question: the entry or the file it would replace.
struct TOverwriteFacts {
  uint64_t size = 0;
  int64_t writeTime = 0;  // seconds since 1970-01-01 UTC
};

// The longest a run goes without ProcessMessages while it reads, compresses
// or waits for its threads: a cancel is heard within it (plus one block's
// work), well inside the tenth of a second a cancel may take in all.
inline constexpr std::chrono::milliseconds kEventInterval{20};

class TZipUserInterface {
 public:
  virtual ~TZipUserInterface() = default;

  // The file-open dialog for an archive name ending in "?". name holds the
  // start directory on entry and the chosen file on return; false = cancelled.
  virtual bool ChooseArchive(const std::string& title, const std::string& filter,
                             std::string& name);
  // The directory-selection dialog (create allowed) for DestDir "?"; dir holds
  // the start directory on entry; false = cancelled.
  virtual bool ChooseDirectory(std::string& dir);
  // The disk prompt: text with OK and Cancel, empty caption; false = Cancel.
  virtual bool AskForDisk(const std::string& text);
  // A message box with an OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption);
  // A Yes/No question; true = Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption);
  // The overwrite question ("Replace existing file <name>?", caption "File
  // Exists Alert") with the sizes and times of both files. By default it is
  // asked as a Yes/No question.
  virtual TOverwriteAnswer AskOverwrite(const std::string& text, const std::string& caption,
                                        const TOverwriteFacts& entry, const TOverwriteFacts& existing);
  virtual void SetBusyCursor(bool busy);
  // Lets pending window messages run (the place where Cancel gets pressed).
  // A run calls it at least every kEventInterval, and more often where
  // blocks come faster.
  virtual void ProcessMessages();
};

// The shared non-interactive instance.
TZipUserInterface& DefaultZipUserInterface();

}  // namespace vantrel::zip
