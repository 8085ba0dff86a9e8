// main.cpp - vantrel-zip, the command-line tool over the ZIP engine.
//
// Commands are looked up in one table; each takes the arguments after its
// name and returns the exit status.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/install_paths.h"
#include "platform/text.h"
#include "zip/tool/commands.h"

namespace {

using vantrel::zip::tool::TCommand;

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage:\n");
  std::fprintf(out, "  vantrel-zip --help | --version\n");
  for (const TCommand& c : vantrel::zip::tool::Commands())
    std::fprintf(out, "  vantrel-zip %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("vantrel-zip %s\n", vantrel::platform::ProgramVersion());
    return 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const TCommand& c : vantrel::zip::tool::Commands())
    if (std::strcmp(c.name, argv[1]) == 0) return c.run(args);
  std::fprintf(stderr, "vantrel-zip: unknown command '%s'\n",
               vantrel::platform::TerminalName(argv[1]).c_str());
  PrintUsage(stderr);
  return 2;
}
