#include "script_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <utility>
#include <variant>

#include "regions/linker_script.h"
#include "regions/region_cover.h"

namespace varnok {

namespace {

// Script files on disk as the window reads them: a relative name counts from the kept folder, anything but a regular
// file is refused without waiting for a writer, and no file is read once the read is to stop.
class WindowScriptFiles final : public ScriptFiles {
 public:
  WindowScriptFiles(const std::string& folder, const std::atomic<bool>& stop) : folder_(folder), stop_(stop) {}

  ScriptText Read(const std::string& path) const override {
    ScriptText read;
    if (stop_) {
      read.problem = "cancelled";
      return read;
    }
    const std::string full = path.starts_with('/') || folder_.empty() ? path : folder_ + '/' + path;
    // Without O_NONBLOCK the open of a FIFO waits for a writer, which may never come.
    const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      read.missing = errno == ENOENT;
      read.problem = std::strerror(errno);
      return read;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      read.problem = "not a regular file";
      return read;
    }
    // The disk reader opens by name; the name of the open descriptor keeps it to the file just checked.
    read = DiskScriptFiles().Read("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    return read;
  }

 private:
  const std::string& folder_;
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
    auto regions = ReadRegionsScript(path_, ScriptSettings{}, WindowScriptFiles(folder_, stop_),
                                     &read.warnings);
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
