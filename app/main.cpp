#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/close_on_signal.h"
#include "app/command_line.h"
#include "app/frm_gui.h"

namespace {

// The toolkit, the X library and the font library crash or hang where their own allocations fail, at their start
// and later. So they keep this much address space for themselves: the program does not start without it, and its own
// large allocations, the file's data and the map, fail first and are reported.
constexpr std::size_t kToolkitRoom = std::size_t{32} << 20;
// Smaller allocations go unchecked: the check costs two system calls.
constexpr std::size_t kCheckedBytes = 64 * 1024;

// Throws std::bad_alloc where size bytes would leave the toolkit less than its room.
void RequireRoom(std::size_t size) {
  if (size >= kCheckedBytes && !varnok::AddressSpaceLeft(size + kToolkitRoom)) throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  RequireRoom(size);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
// The map's slabs come aligned, and are checked alike.
void* operator new(std::size_t size, std::align_val_t alignment) {
  RequireRoom(size);
  const auto align = static_cast<std::size_t>(alignment);
  if (void* memory = std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align)) {
    return memory;
  }
  throw std::bad_alloc();
}
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }

int main(int argc, char** argv) {
  // --help, --version and unknown "--" options are answered before the toolkit starts, so they need no display.
  if (const auto status = varnok::AnswerCommandLine(
          varnok::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), true), std::cout, std::cerr)) {
    return *status;
  }
  // The toolkit paints with the global pool's threads, made here while the least memory is taken. Without them
  // every large fill would wait for ever, and so would the toolkit's end, which waits for the pool: the program ends
  // at once, with nothing yet to save.
  if (!varnok::AddressSpaceLeft(kToolkitRoom) || !varnok::KeepPoolThreads(*QThreadPool::globalInstance())) {
    std::cerr << "Out of memory!!\n";
    std::_Exit(1);
  }
  varnok::Application application(argc, argv);
  // What the toolkit left of the arguments is ours; anything it did not know is an error before any window exists.
  const varnok::CommandLine command = varnok::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), false);
  if (const auto status = varnok::AnswerCommandLine(command, std::cout, std::cerr)) return *status;
  try {
    varnok::Tfrm_GUI frm_GUI;
    const varnok::CloseOnSignal close_on_signal(&frm_GUI);
    if (command.map) frm_GUI.TickMapOption();
    if (command.memory) frm_GUI.SetRegionsScript(*command.memory);
    frm_GUI.show();
    if (command.file) {
      // The analysis starts once the window is on the screen, as after a click.
      QTimer::singleShot(0, &frm_GUI, [&frm_GUI, file = *command.file, diff = command.diff] {
        if (diff) {
          frm_GUI.OpenFileAndCompare(file, *diff);
        } else {
          frm_GUI.OpenFile(file);
        }
      });
    }
    application.exec();
  } catch (...) {
    varnok::ReportCurrentException();
  }
  return 0;
}
