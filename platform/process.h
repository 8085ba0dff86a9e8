// process.h - starting other programs: the viewer, the editor, the command
// line, and documents with the desktop's default application.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

// Splits a command line into words the way command lines were split on the
// system the settings come from: blanks (space, tab) separate words, double
// quotes group, a backslash escapes a double quote (2n backslashes before a
// quote give n backslashes and the quote groups; 2n+1 give n backslashes and
// a literal quote), and other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view line);

// Starts `argv` detached (its own session, no shell) in `directory` (the
// current directory when empty), searching PATH for argv[0]. Returns false
// with `error` set when the program cannot be started (not found, not
// executable); the program's own later failures are its own.
bool StartDetached(const std::vector<std::string>& argv, const std::string& directory = {},
                   std::string* error = nullptr);

// Starts `argv` as StartDetached does; once the program ends, the directory
// `removeAfter` is removed with everything in it (by a shell that waits for
// the program, so this happens even when Vantrel has ended meanwhile). For a
// private temporary copy handed to a viewer.
bool StartDetachedThenRemove(const std::vector<std::string>& argv, const std::string& removeAfter,
                             const std::string& directory = {}, std::string* error = nullptr);

// A new, empty directory that only the user can enter, in $TMPDIR (or /tmp),
// named `prefix` followed by six random characters. Empty when it cannot be made.
std::string MakePrivateTempDir(const std::string& prefix);

// Starts a configured command with extra arguments after its own words: the
// command line is split as above and each extra argument is passed as one
// word, never interpreted by a shell.
bool StartCommand(std::string_view commandLine, const std::vector<std::string>& extraArgs,
                  const std::string& directory = {}, std::string* error = nullptr);

// Runs what the user typed through /bin/sh -c in `directory`, detached, so
// pipes and redirections work.
bool StartShellCommand(const std::string& text, const std::string& directory = {},
                       std::string* error = nullptr);

// The same, with what the command prints (standard output and error) going
// to the file `outputPath`; when the command ends, its exit status is
// written as decimal text to `statusPath` (created whole, by a rename, so a
// reader never sees half of it). The command outlives Vantrel like any other.
bool StartShellCommandCaptured(const std::string& text, const std::string& directory,
                               const std::string& outputPath, const std::string& statusPath,
                               std::string* error = nullptr);

// Opens a document with the desktop's default application (xdg-open).
bool OpenWithDefaultApplication(const std::string& path, const std::string& directory = {},
                                std::string* error = nullptr);

// The platform's default text editor: the first common desktop text editor
// found on PATH, else "xdg-open".
std::string DefaultEditor();

// Lets the calling thread run only when the machine has nothing else to do
// (background counting that must not slow down what the user sees).
void RunThreadWhenIdle();
// Lowers the calling thread's share of the processor (nice 10) without
// starving it: background work that the user still waits for, such as
// listing a changed directory, gives way to the window's thread.
void RunThreadInBackground();

// The full path of `program` when it is found on PATH (or is itself a path to
// an executable file); empty otherwise.
std::string FindProgram(std::string_view program);

}  // namespace vantrel::platform
