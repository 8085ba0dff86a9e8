// install_paths.h - where the program's own files are: the running
// executable, the folder it lies in, and the data folder with the
// translation files ("Language/") and the help pages ("help/").
//
// An installed program finds its data relative to its own prefix
// (<prefix>/bin/vantrel reads <prefix>/share/vantrel/), so a package
// unpacked anywhere works as well as one installed under /usr. A program
// run from the build folder finds the data the build put beside it.
#pragma once

#include <string>

namespace vantrel::platform {

// The version of all three programs, e.g. "1.6".
const char* ProgramVersion();

// The absolute path of the running executable (links resolved), or an empty
// string when the system does not tell.
std::string ExecutablePath();

// The directory of the running executable, with a trailing "/".
std::string ExecutableDirectory();

// The data folder for an executable in `executableDir` (with or without a
// trailing "/"): `relativeDataDir` below it when that is a directory (an
// installed program), else the executable's directory itself (the build
// folder). The result ends with "/".
std::string DataDirectoryFor(const std::string& executableDir, const std::string& relativeDataDir);

// The data folder of the running program, worked out once.
const std::string& DataDirectory();

// The folder of the translation files ("<data>/Language/").
std::string LanguageDirectory();

// The folder of the help pages ("<data>/help/").
std::string HelpDirectory();

}  // namespace vantrel::platform
