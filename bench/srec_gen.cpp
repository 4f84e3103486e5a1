// Writes deterministic S-record images for benchmarks: an S0 header, data records of a chosen type and width
// covering the image from address 0, and the matching termination record. With COUNT, writes COUNT images of
// different data, named OUTPUT.00000, OUTPUT.00001, ...
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

bool WriteImage(const char* path, int type, int per_record, std::uint64_t image, std::uint32_t state) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::perror(path);
    return false;
  }
  std::string out;
  const std::uint8_t header[] = {'b', 'e', 'n', 'c', 'h'};
  PutRecord(out, 0, 0, header, sizeof header);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(per_record));
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
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: srec_gen TYPE(1|2|3) BYTES_PER_RECORD IMAGE_BYTES OUTPUT [COUNT]\n");
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
  if (argc == 5) return WriteImage(argv[4], type, per_record, image, 2463534242u) ? 0 : 1;
  const long count = std::strtol(argv[5], nullptr, 10);
  for (long i = 0; i < count; ++i) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%05ld", i);
    const std::string path = std::string(argv[4]) + suffix;
    if (!WriteImage(path.c_str(), type, per_record, image, 2463534242u + static_cast<std::uint32_t>(i))) return 1;
  }
  return 0;
}
