#include <fcntl.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/scan.h"
#include "fd_output.h"

namespace {

// A closed standard descriptor would be taken by the next file the command opens, and the report written into it
// or standard input read from it. Each one is held by /dev/null opened the wrong way round, so that using it fails
// as using a closed one does.
void HoldClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
  }
}

// The width of the terminal on standard error, or 0 when standard error is not a terminal.
int TerminalColumns() {
  if (::isatty(STDERR_FILENO) == 0) return 0;
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The map of a --map run comes in leaves of a megabyte, and a map laid out afresh at the end frees the filler's
// leaves while it writes its own. Taken from the heap rather than mapped one by one, their memory is handed on to
// the new map instead of being returned to the system and faulted in afresh, page by page.
void KeepFreedMemoryForReuse() {
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  HoldClosedStandardDescriptors();
  KeepFreedMemoryForReuse();
  try {
    varnok::FdOutputBuffer buffer(STDOUT_FILENO);
    std::ostream out(&buffer);
    varnok::ScanContext context;
    context.stdin_fd = STDIN_FILENO;
    context.terminal_columns = TerminalColumns();
    context.write_error = [&buffer] { return buffer.Error(); };
    const std::vector<std::string> args(argv + 1, argv + argc);
    return varnok::RunScan(args, out, std::cerr, context);
  } catch (const std::bad_alloc&) {
    std::cerr << "Out of memory!!\n";
    return varnok::kScanOutOfMemory;
  }
}
