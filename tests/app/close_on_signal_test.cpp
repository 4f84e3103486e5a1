// SIGTERM and SIGINT close the window; a second one, once a close was asked for, ends the process whatever the
// event loop does. Each case runs in a process of its own (a death test), since its end is what is checked.
#include <QApplication>
#include <QCloseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "app/close_on_signal.h"

namespace {

// How a case's process ends when no signal ended it.
constexpr int kClosed = 10;
constexpr int kStillOpen = 11;

class Window : public QWidget {
 public:
  explicit Window(bool refuse) : refuse_(refuse) {}
  bool asked = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    asked = true;
    event->setAccepted(!refuse_);
  }

 private:
  bool refuse_;
};

// Takes the steps: 'T' raises SIGTERM, 'I' SIGINT, '.' hands events to the window until its close is asked for.
// Ends the process as kClosed or kStillOpen after the last step.
[[noreturn]] void TakeSteps(bool refuse, const std::string& steps) {
  Window window(refuse);
  window.show();
  const varnok::CloseOnSignal close_on_signal(&window);
  for (const char step : steps) {
    if (step == '.') {
      for (int round = 0; round < 200 && !window.asked; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      }
    } else {
      std::raise(step == 'T' ? SIGTERM : SIGINT);
    }
  }
  std::_Exit(window.isVisible() ? kStillOpen : kClosed);
}

TEST(CloseOnSignal, SecondSignalEndsTheProcessAtOnce) {
  const struct {
    const char* name;
    bool refuse;  // the window refuses to close, as when its settings cannot be written
    std::string steps;
    int status;
  } cases[] = {
      {"one SIGTERM closes", false, "T.", kClosed},
      {"one SIGINT closes", false, "I.", kClosed},
      {"a refused close leaves the window open", true, "T.", kStillOpen},
      {"second SIGTERM before the first is handled", false, "TT", 128 + SIGTERM},
      {"second SIGTERM after a refused close", true, "T.T", 128 + SIGTERM},
      {"SIGTERM after SIGINT", true, "I.T", 128 + SIGTERM},
      {"SIGINT after SIGTERM", false, "TI", 128 + SIGINT},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(TakeSteps(c.refuse, c.steps), testing::ExitedWithCode(c.status), "") << c.name;
  }
}

}  // namespace

// ctest gives the offscreen platform and a runtime folder. Each death test runs this program anew, since the
// toolkit's threads rule out a plain fork.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
