#include "support/files.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace varnok::test {

const std::string& TestDir() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnok_test_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  static const struct Remover {
    ~Remover() {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }
  } remover;
  return folder;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = TestDir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace varnok::test
