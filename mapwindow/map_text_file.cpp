#include "map_text_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/analysis_run.h"
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

// The replace renames a file over the target: over a device node, a FIFO or a socket that would put a file in its
// place, and a folder cannot take it. A link is followed to a regular file only, which QSaveFile then replaces in its
// own folder, so that the link stays; a link that leads to no file would make one wherever it points.
std::optional<QString> RefuseTarget(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  struct stat entry {};
  if (::lstat(name.constData(), &entry) != 0) return std::nullopt;
  if (S_ISLNK(entry.st_mode)) {
    if (::stat(name.constData(), &entry) != 0) {
      return QStringLiteral("'%1' is a link that leads to no file").arg(path);
    }
    if (!S_ISREG(entry.st_mode)) {
      return QStringLiteral("'%1' is not a regular file").arg(QFileInfo(path).canonicalFilePath());
    }
  }
  if (!S_ISREG(entry.st_mode)) return QStringLiteral("'%1' is not a regular file").arg(path);
  return std::nullopt;
}

}  // namespace

MapTextSave WriteMapText(const MapGrid& map, const QString& path, std::string_view head,
                         const MapSaveProgress& progress) {
  MapTextSave save;
  const auto fail = [&save](QString reason) {
    save.end = MapTextSave::End::Failed;
    save.reason = std::move(reason);
    return save;
  };
  if (auto refused = RefuseTarget(path)) return fail(*refused);
  // The rows are counted first, so that the progress has its whole.
  const std::uint64_t total = progress ? map.WrittenRowCount() : 0;
  QSaveFile file(path);
  // Writing straight into the target, QSaveFile's fallback for folders it cannot create files in, could leave a
  // partial file.
  file.setDirectWriteFallback(false);
  // Unbuffered, because a buffered QSaveFile takes a write that the system cut short for a success and commits a
  // truncated file; the rows come in large pieces anyway.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
  if (!WriteAll(file, head)) return fail(file.errorString());
  bool cancelled = false;
  // While one thread writes a stretch of text, the others make the next ones; they write in turn.
  const auto take = [&](std::string_view text, std::uint64_t rows) {
    if (!WriteAll(file, text)) return false;
    save.rows += rows;
    if (progress && !progress(save.rows, total)) {
      cancelled = true;
      return false;
    }
    return true;
  };
  const bool written = MapTextWriter::ForEachChunk(map, take, UsableCores());
  if (cancelled) {
    // The temporary file goes with the QSaveFile that is not committed.
    file.cancelWriting();
    save.end = MapTextSave::End::Cancelled;
    return save;
  }
  if (!written) return fail(file.errorString());
  // The target may have been replaced while the rows were written.
  if (auto refused = RefuseTarget(path)) return fail(*refused);
  if (!file.commit()) return fail(file.errorString());
  return save;
}

}  // namespace varnok
