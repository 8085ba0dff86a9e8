// commands.h - the command table of vantrel-zip.
#pragma once

#include <string>
#include <vector>

namespace vantrel::zip::tool {

struct TCommand {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>& args);
};

// Every command the tool knows, in the order the usage lists them.
const std::vector<TCommand>& Commands();

int RunList(const std::vector<std::string>& args);
int RunTest(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
int RunAdd(const std::vector<std::string>& args);
int RunRepair(const std::vector<std::string>& args);

}  // namespace vantrel::zip::tool
