#include "map_text_file.h"

#include <QSaveFile>

#include <cstdint>
#include <string>

namespace varnok {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// Writes all of text. A short write is tried again for the rest, so that a failure ends with the system's reason.
bool WriteAll(QSaveFile& file, const std::string& text) {
  const char* data = text.data();
  auto left = static_cast<qint64>(text.size());
  while (left > 0) {
    const qint64 written = file.write(data, left);
    if (written <= 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

std::optional<QString> WriteMapText(const MapGrid& map, const QString& path) {
  QSaveFile file(path);
  // Writing straight into the target, QSaveFile's fallback for folders it cannot create files in, could leave a
  // partial file.
  file.setDirectWriteFallback(false);
  // Unbuffered, because a buffered QSaveFile takes a write that the system cut short for a success and commits a
  // truncated file; the rows are gathered into chunks here instead.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return file.errorString();
  std::string chunk;
  chunk.reserve(kChunkBytes + 256);
  bool written = true;
  ForEachMapTextRow(map, [&](const std::string& row) {
    chunk.append(row).push_back('\n');
    if (chunk.size() < kChunkBytes) return true;
    written = WriteAll(file, chunk);
    chunk.clear();
    return written;
  });
  if (!written || !WriteAll(file, chunk) || !file.commit()) return file.errorString();
  return std::nullopt;
}

}  // namespace varnok
