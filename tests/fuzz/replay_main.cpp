// Replays a fuzz target's corpus through its entry point, without libFuzzer:
// the normal build compiles and runs every harness, so one that a change in
// the code it drives has broken fails here. A crash or an abort of the
// harness fails the test; so does a corpus that is missing or empty, where
// nothing would have been checked.
//   NAME_replay CORPUS_DIR

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Only some targets have one.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::vector<std::filesystem::path> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  if (error) {
    std::fprintf(stderr, "cannot read %s: %s\n", dir.c_str(), error.message().c_str());
    return 1;
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs in %s\n", dir.c_str());
    return 1;
  }

  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  for (const auto& path : inputs) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    // Named first, so that the input of a crash is the last line printed.
    std::fprintf(stderr, "%s\n", path.filename().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
