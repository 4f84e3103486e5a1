#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "map_text_file.h"
#include "memmap/map_grid.h"

namespace varnok {

// "Save map as text..." off the UI thread: writes the map's text (WriteMapText) on a thread of its own, tells its
// progress and its end through signals that reach the UI thread queued, and stops when asked. The map must not
// change while a save goes on.
class MapSaver : public QObject {
  Q_OBJECT

 public:
  explicit MapSaver(QObject* parent) : QObject(parent) {}
  // Asks a save that goes on to stop and waits for it.
  ~MapSaver() override;
  MapSaver(const MapSaver&) = delete;
  MapSaver& operator=(const MapSaver&) = delete;

  bool Saving() const { return thread_.joinable(); }
  // Starts writing head and the map to path; ignored while a save goes on.
  void Start(const MapGrid& map, const QString& path, std::string head);
  // Asks the save to stop after its current piece; the file is then left as it was.
  void Stop() { stop_ = true; }

 signals:
  // The share of the rows written so far, at most once per whole percent.
  void progressed(int percent);
  // The save is over: the text reached path, was cancelled, or failed for the reason given.
  void finished(varnok::MapTextSave save, QString path);

 private:
  void Finish(MapTextSave save, QString path);
  void Join();

  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace varnok
