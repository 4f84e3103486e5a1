// Writes a deterministic S-record image for benchmarks: an S0 header, data records of a chosen
// type and width covering the image from address 0, and the matching termination record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/srec_builder.h"

namespace {

void PutRecord(std::string& out, int type, std::uint32_t address, const std::uint8_t* data, std::size_t length) {
  varnok::test::AppendRecord(out, type, address, data, length);
  out += '\n';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: srec_gen TYPE(1|2|3) BYTES_PER_RECORD IMAGE_BYTES OUTPUT\n");
    return 2;
  }
  const int type = std::atoi(argv[1]);
  const int per_record = std::atoi(argv[2]);
  const std::uint64_t image = std::strtoull(argv[3], nullptr, 0);
  const int width = type + 1;
  if (type < 1 || type > 3 || per_record < 1 || per_record > 255 - width - 1) {
    std::fprintf(stderr, "srec_gen: bad type or record size\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[4], "wb");
  if (file == nullptr) {
    std::perror(argv[4]);
    return 1;
  }
  std::string out;
  const std::uint8_t header[] = {'b', 'e', 'n', 'c', 'h'};
  PutRecord(out, 0, 0, header, sizeof header);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(per_record));
  std::uint32_t state = 2463534242u;
  for (std::uint64_t address = 0; address < image; address += static_cast<std::uint64_t>(per_record)) {
    const int length = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(per_record), image - address));
    for (int i = 0; i < length; ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(state);
    }
    PutRecord(out, type, static_cast<std::uint32_t>(address), data.data(), static_cast<std::size_t>(length));
    if (out.size() > (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), file);
      out.clear();
    }
  }
  PutRecord(out, 10 - type, 0, nullptr, 0);
  std::fwrite(out.data(), 1, out.size(), file);
  return std::fclose(file) == 0 ? 0 : 1;
}
