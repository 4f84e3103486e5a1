#include "map_text_file.h"

#include <QSaveFile>

#include <string_view>

#include "memmap/map_text.h"

namespace varnok {

namespace {

// Writes all of text. A short write is tried again for the rest, so that a failure ends with the system's reason.
bool WriteAll(QSaveFile& file, std::string_view text) {
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
  // truncated file; the rows come in large pieces anyway.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return file.errorString();
  const bool written =
      MapTextWriter::ForEachChunk(map, [&file](std::string_view text) { return WriteAll(file, text); });
  if (!written || !file.commit()) return file.errorString();
  return std::nullopt;
}

}  // namespace varnok
