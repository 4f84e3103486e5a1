#pragma once

// Answers the modal dialogs a Qt test opens, so that the test's own call into exec() returns.

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

namespace varnok::test {

// Polls for the active modal dialog every 5 ms and hands it to answer, which closes it or changes what it shows.
// After max_ticks polls it stops answering and rejects whatever modal dialog is still open, so that a test whose
// dialog never behaves as expected fails instead of hanging.
class ModalAnswerer {
 public:
  using Answer = std::function<void(QDialog& dialog)>;

  explicit ModalAnswerer(Answer answer, int max_ticks = 400) : answer_(std::move(answer)), ticks_left_(max_ticks) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (--ticks_left_ < 0) {
        if (dialog != nullptr) dialog->reject();
        return;
      }
      if (dialog != nullptr) answer_(*dialog);
    });
    timer_.start(5);
  }

 private:
  Answer answer_;
  int ticks_left_;
  QTimer timer_;
};

}  // namespace varnok::test
