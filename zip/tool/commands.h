// commands.h - the command table of vantrel-zip.
#pragma once

#include <cstdint>
#include <optional>
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
// A volume size: digits with an optional k, m or g (times 1024, 1024^2,
// 1024^3), from 1 byte to 4 GiB - 1; nothing when it is not one.
std::optional<int64_t> ParseVolumeSize(const std::string& text);
// A thread count for --threads: 0 (one per processor) to 1024.
std::optional<int> ParseThreadCount(const std::string& text);

int RunAdd(const std::vector<std::string>& args);
int RunRepair(const std::vector<std::string>& args);

}  // namespace vantrel::zip::tool
