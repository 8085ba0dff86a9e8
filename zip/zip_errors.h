// zip_errors.h - the exception classes of the ZIP engine.
//
// An operation of the engine (opening, extracting) ends by raising one of these
// with a fixed message text; problems with single entries go through events
// instead. EListError and EStreamError are the list and stream errors of the
// record lists and the buffered streams.
#pragma once

#include <stdexcept>
#include <string>

namespace vantrel::zip {

// Base of every exception the engine raises.
class EZipError : public std::runtime_error {
 public:
  explicit EZipError(const std::string& message) : std::runtime_error(message) {}
};

#define VANTREL_ZIP_ERROR(Name)                                   \
  class Name : public EZipError {                                 \
   public:                                                        \
    explicit Name(const std::string& message) : EZipError(message) {} \
  }

VANTREL_ZIP_ERROR(EBadZipFile);
VANTREL_ZIP_ERROR(EIncompleteZip);
VANTREL_ZIP_ERROR(ENotAZipFile);
VANTREL_ZIP_ERROR(EFatalUnzipError);
VANTREL_ZIP_ERROR(EUserCanceled);
VANTREL_ZIP_ERROR(EBiggerThanUncompressed);
VANTREL_ZIP_ERROR(ECantWriteUCF);
VANTREL_ZIP_ERROR(ENotEnoughRoom);
VANTREL_ZIP_ERROR(EListError);
VANTREL_ZIP_ERROR(EStreamError);
// A run that would write an archive without entries, when the caller asked
// for none such (TZipWriter::WriteEmptyArchive): nothing is written.
VANTREL_ZIP_ERROR(ENothingToAdd);

#undef VANTREL_ZIP_ERROR

// An archive beyond what this engine holds (too many entries, sizes or offsets
// of 4 GiB or more): refused as a whole, never cut.
class EZipTooLarge : public EZipError {
 public:
  explicit EZipTooLarge(const std::string& message) : EZipError(message) {}
};

// The fixed texts.
inline constexpr const char* kTextNotAZip = "Not a valid zip file!";
inline constexpr const char* kTextIncompleteZip = "Incomplete Zip File";
inline constexpr const char* kTextCanceledNewDisk = "User canceled loading new disk.";
inline constexpr const char* kTextUserAborted = "User Aborted Operation";
inline constexpr const char* kTextCanceledZipName = "User canceled setting zip file name.";
inline constexpr const char* kTextCanceledDestDir = "User canceled Set Desination Directory";
inline constexpr const char* kTextPrematureEnd = "Premature end of file reached";
inline constexpr const char* kTextBiggerThanUncompressed = "File is larger than uncompressed size!";
inline constexpr const char* kTextCantWrite = "Cant write uncompressed file";
inline constexpr const char* kTextNotEnoughRoom = "Not enough room to write archive";
inline constexpr const char* kTextNothingToAdd = "nothing to add";
inline constexpr const char* kTextUnknownMethod = "Unknown Compression Method";
inline constexpr const char* kTextInflateOutOfMemory = "*** inflate out of memory ***";
inline constexpr const char* kTextZip64Lost =
    "Not a valid zip file! Its end record refers to a ZIP64 end record that is missing or "
    "damaged";

}  // namespace vantrel::zip
