// Writes the S-record files that measure the memory of a map run (varnok-scan --map FILE): sparse images whose
// records are small and far apart, the shapes in which a page-per-byte map costs the most.
//   sparse256m   one data byte per 4 KiB page over 256 MiB (65,536 records)
//   sparse4g     one data byte per 4 KiB page over the whole 4 GiB (1,048,576 records)
//   straddle4g   one 12-byte record per 8 KiB over 4 GiB, each across a 4 KiB page border (524,288 records)
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "support/srec_builder.h"

namespace {

struct Shape {
  std::string_view name;
  std::uint64_t stride;
  std::uint64_t span;
  std::uint32_t first;  // address of the first record within each stride
  std::size_t length;
};

constexpr Shape kShapes[] = {
    {"sparse256m", 4096, std::uint64_t{256} << 20, 0, 1},
    {"sparse4g", 4096, std::uint64_t{1} << 32, 0, 1},
    {"straddle4g", 8192, std::uint64_t{1} << 32, 4096 - 6, 12},
};

}  // namespace

int main(int argc, char** argv) {
  const Shape* shape = nullptr;
  for (const Shape& candidate : kShapes) {
    if (argc == 3 && candidate.name == argv[1]) shape = &candidate;
  }
  if (shape == nullptr) {
    std::fprintf(stderr, "usage: map_shape_gen sparse256m|sparse4g|straddle4g OUTPUT\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[2], "wb");
  if (file == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  std::string out;
  const std::uint8_t header[] = {'s', 'h', 'a', 'p', 'e'};
  varnok::test::AppendRecord(out, 0, 0, header, sizeof header);
  out += '\n';
  std::uint8_t data[16] = {};
  if (shape->first != 0) {
    // A byte at address 0 makes the map start there, so the records cross the map's own page borders.
    varnok::test::AppendRecord(out, 3, 0, data, 1);
    out += '\n';
  }
  std::uint32_t state = 2463534242u;
  for (std::uint64_t base = 0; base < shape->span; base += shape->stride) {
    for (std::size_t i = 0; i < shape->length; ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      data[i] = static_cast<std::uint8_t>(state);
    }
    varnok::test::AppendRecord(out, 3, static_cast<std::uint32_t>(base + shape->first), data, shape->length);
    out += '\n';
    if (out.size() > (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), file);
      out.clear();
    }
  }
  varnok::test::AppendRecord(out, 7, 0, nullptr, 0);
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), file);
  return std::fclose(file) == 0 ? 0 : 1;
}
