#include "map_saver.h"

#include <exception>
#include <new>
#include <utility>

#include "analysis/progress_percent.h"

namespace varnok {

MapSaver::~MapSaver() {
  Stop();
  Join();
}

void MapSaver::Join() {
  if (thread_.joinable()) thread_.join();
}

void MapSaver::Start(const MapGrid& map, const QString& path, std::string head) {
  if (Saving()) return;
  stop_ = false;
  thread_ = std::thread([this, &map, path, head = std::move(head)] {
    int last_percent = -1;
    MapTextSave save;
    try {
      save = WriteMapText(map, path, head, [&](std::uint64_t done, std::uint64_t total) {
        const int percent = static_cast<int>(ProgressPercent(done, total));
        if (percent != last_percent) {
          last_percent = percent;
          emit progressed(percent);
        }
        return !stop_;
      });
    } catch (const std::bad_alloc&) {
      save.end = MapTextSave::End::Failed;
      save.reason = QStringLiteral("Out of memory!!");
    } catch (const std::exception& error) {
      // An exception must not leave the thread, which would end the program with the save half told.
      save.end = MapTextSave::End::Failed;
      save.reason = QString::fromLocal8Bit(error.what());
    }
    // The UI thread hears of the end queued, after every progress report.
    QMetaObject::invokeMethod(this, [this, save, path] { Finish(save, path); }, Qt::QueuedConnection);
  });
}

void MapSaver::Finish(MapTextSave save, QString path) {
  Join();
  emit finished(std::move(save), std::move(path));
}

}  // namespace varnok
