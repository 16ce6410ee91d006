// Replays a fuzz target's corpus without libFuzzer: every file named on the
// command line, and every file in every directory named there, is fed once
// to LLVMFuzzerTestOneInput. A finding aborts the process, so the run fails
// exactly where the fuzzer would have stopped.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs(std::filesystem::path const& arg) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(arg)) {
    for (auto const& e : std::filesystem::directory_iterator(arg)) {
      if (e.is_regular_file())
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(arg);
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::exists(argv[i])) {
      std::fprintf(stderr, "%s: no such corpus: %s\n", argv[0], argv[i]);
      return 2;
    }
    for (auto const& file : inputs(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      // Announced first, so that a crash names its input.
      std::fprintf(stderr, "input %s (%zu bytes)\n", file.c_str(), bytes.size());
      LLVMFuzzerTestOneInput(reinterpret_cast<std::uint8_t const*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "%s: the corpus is empty\n", argv[0]);
    return 1;
  }
  std::printf("%zu corpus inputs replayed\n", count);
  return 0;
}
