#pragma once

#include <QMetaType>
#include <QObject>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mapwindow/job_slot.h"
#include "memmap/map_grid.h"
#include "regions/memory_regions.h"

namespace varnok {

// What the digests of a map hand back: the lines varnok-scan --digest prints for the same image and regions.
struct DigestLines {
  std::vector<std::string> lines;
  bool cancelled = false;  // asked to stop before the end: the lines are incomplete
};

// The lines varnok-scan --digest prints of the image in map (gaps filled with 0xFF, CRC-32 and SHA-256), then of each
// region that holds a byte of it; none for a map without bytes. Stops between regions once stop is set.
DigestLines MapDigestLines(const MapGrid& map, const std::vector<MemoryRegion>& regions,
                           const std::atomic<bool>& stop);

// The digests of a map beside the UI thread. It reads the map, which must stay unchanged and alive until its thread
// ends: the window waits for it before it changes the map.
class DigestJob : public QObject {
  Q_OBJECT

 public:
  DigestJob(const MapGrid& map, std::vector<MemoryRegion> regions) : map_(map), regions_(std::move(regions)) {}
  // Asks the digests to stop and waits for them.
  ~DigestJob() override;
  DigestJob(const DigestJob&) = delete;
  DigestJob& operator=(const DigestJob&) = delete;

  void Start(const ThreadStart& start);
  void Stop() { stop_ = true; }

 signals:
  // The digests are over and their thread about to end.
  void finished(varnok::DigestLines lines);

 private:
  const MapGrid& map_;
  const std::vector<MemoryRegion> regions_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace varnok

Q_DECLARE_METATYPE(varnok::DigestLines)
