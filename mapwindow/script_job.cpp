#include "script_job.h"

#include <exception>
#include <new>
#include <utility>
#include <variant>

#include "regions/linker_script.h"
#include "regions/region_cover.h"

namespace varnok {

namespace {

// Script files on disk as the window reads them: anything but a regular file is refused without waiting for a
// writer, and no file is read once the read is to stop.
class WindowScriptFiles final : public ScriptFiles {
 public:
  explicit WindowScriptFiles(const std::atomic<bool>& stop) : stop_(stop) {}

  ScriptText Read(const std::string& path) const override {
    if (stop_) {
      ScriptText read;
      read.problem = "cancelled";
      return read;
    }
    return DiskScriptFiles(SmallFileKinds::kRegular).Read(path);
  }

 private:
  const std::atomic<bool>& stop_;
};

}  // namespace

ScriptJob::~ScriptJob() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void ScriptJob::Start(const ThreadStart& start) {
  thread_ = start([this] {
    RegionsRead read = Read();
    emit finished(std::move(read));
  });
}

RegionsRead ScriptJob::Read() const {
  RegionsRead read;
  // No exception may leave the thread: it would end the program.
  try {
    // Relative names, the script's and its INCLUDEs', count from the folder kept with the script.
    ScriptSettings settings;
    settings.current_dir = folder_;
    auto regions = ReadRegionsScript(path_, settings, WindowScriptFiles(stop_), &read.warnings);
    if (std::string* problem = std::get_if<std::string>(&regions)) {
      read.problem = std::move(*problem);
    } else {
      read.regions = std::get<std::vector<MemoryRegion>>(std::move(regions));
    }
  } catch (const std::bad_alloc&) {
    read.problem = "out of memory";
  } catch (const std::exception& error) {
    read.problem = error.what();
  }
  read.cancelled = stop_;
  return read;
}

}  // namespace varnok
