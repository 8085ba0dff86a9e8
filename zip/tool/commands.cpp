// commands.cpp - the command table of vantrel-zip.
#include "zip/tool/commands.h"

namespace vantrel::zip::tool {

const std::vector<TCommand>& Commands() {
  static const std::vector<TCommand> commands = {
      {"list", "list [-v] [-O CODEPAGE] ARCHIVE", RunList},
      {"test", "test [-O CODEPAGE] [-P PASSWORD] ARCHIVE", RunTest},
      {"extract", "extract [-d DIR] [-o | -n] [-j] [-O CODEPAGE] [-P PASSWORD] [--threads N] ARCHIVE [MASK...]",
       RunExtract},
      {"add",
       "add [-0..-9] [-r] [-D] [-X] [--unicode-extra] [-y] [-u | -f | -R] [-x PATTERN]... [-n PATTERN]... [-e [--zipcrypto] "
       "[-P PASSWORD]] [--split SIZE [--first-split SIZE]] ARCHIVE FILE-OR-PATTERN...",
       RunAdd},
      {"repair", "repair [-P PASSWORD] DAMAGED NEW", RunRepair},
  };
  return commands;
}

}  // namespace vantrel::zip::tool
