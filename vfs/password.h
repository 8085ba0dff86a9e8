// password.h - how a source asks for an archive's password.
//
// An archive's source asks when an encrypted entry is first read, keeps the
// answer in memory for that archive only (never anywhere else, never on
// disk), and asks again only after the answer proved wrong. The program
// answers with a dialog, tests from a script.
#pragma once

#include <string>

namespace vantrel::vfs {

class TPasswordProvider {
 public:
  virtual ~TPasswordProvider() = default;
  // `archive`: the archive's display path; `again`: the last answer for it
  // was wrong. False when the user gives none.
  virtual bool AskPassword(const std::string& archive, bool again, std::string& password) = 0;
};

}  // namespace vantrel::vfs
