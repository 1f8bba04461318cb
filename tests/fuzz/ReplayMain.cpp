// Runs a fuzz target's entry point once on every file under the directories
// given, so that kept inputs (fixed findings, seeds) are checked by the
// ordinary test run, with whatever compiler builds it. A check that fires
// inside the target traps, which fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i], error)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", entry.path().c_str());
        return 1;
      }
      const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
      std::fprintf(stderr, "%s\n", entry.path().c_str());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++files;
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "%d inputs\n", files);
  return files > 0 ? 0 : 1;
}
