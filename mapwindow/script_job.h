#pragma once

#include <QMetaType>
#include <QObject>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mapwindow/job_slot.h"
#include "regions/memory_regions.h"

namespace varnok {

// What the read of a linker script hands back.
struct RegionsRead {
  std::vector<MemoryRegion> regions;
  std::vector<std::string> warnings;  // what the script says that reads differently: "FILE:LINE: what"
  std::string problem;     // why the script gives no regions ("FILE:LINE: what"); empty when it does
  bool cancelled = false;  // the read was asked to stop before its end
};

// The read of a linker script's regions beside the UI thread, INCLUDE looking first in `folder` (the process's
// current folder when empty) as ld looks in its current folder. Only regular files are read, so that a FIFO or a
// device never holds it up; it stops before the next file it would read once asked to.
class ScriptJob : public QObject {
  Q_OBJECT

 public:
  ScriptJob(std::string path, std::string folder) : path_(std::move(path)), folder_(std::move(folder)) {}
  // Asks the read to stop and waits for it.
  ~ScriptJob() override;
  ScriptJob(const ScriptJob&) = delete;
  ScriptJob& operator=(const ScriptJob&) = delete;

  // Reads on the thread that `start` makes; its std::system_error leaves the job unstarted.
  void Start(const ThreadStart& start);
  void Stop() { stop_ = true; }

 signals:
  // The read is over and its thread about to end.
  void finished(varnok::RegionsRead read);

 private:
  RegionsRead Read() const;

  const std::string path_;
  const std::string folder_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace varnok

Q_DECLARE_METATYPE(varnok::RegionsRead)
