// Replays a fuzz target over stored inputs: every file in the directories (or
// the single files) named on the command line is fed to LLVMFuzzerTestOneInput
// once. This keeps each fuzz target building and running in the ordinary test
// suite, with the corpus and every crash found so far as regression inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static int RunFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

int main(int argc, char** argv) {
  int failures = 0;
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      for (const auto& e : fs::recursive_directory_iterator(arg)) {
        if (e.is_regular_file()) {
          failures += RunFile(e.path());
          ++count;
        }
      }
    } else if (fs::exists(arg, ec)) {
      failures += RunFile(arg);
      ++count;
    }
  }
  // An empty input always runs, so a target with no corpus yet is still exercised.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("replayed %zu inputs\n", count);
  return failures == 0 ? 0 : 1;
}
