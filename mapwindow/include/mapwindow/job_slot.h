#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

namespace varnok {

// Starts work on a thread of its own, or throws std::system_error when no thread can be made.
using ThreadStart = std::function<std::thread(std::function<void()> work)>;

// Makes a std::thread that runs work.
std::thread StartThread(std::function<void()> work);

// The one job at a time that the windows run beside the UI thread: a file's run, the read of an image to compare
// with, a linker script's read. A job is a QObject with Start(const ThreadStart&), a Stop() that any thread may call,
// a destructor that stops it and waits for its thread, and an end signal that hands its result over by value as its
// thread ends. The slot owns the job until that signal and then hands the result to the handler given with it; its
// own destruction stops the job and waits for it.
class JobSlot : public QObject {
  Q_OBJECT

 public:
  explicit JobSlot(QObject* parent = nullptr) : QObject(parent) {}
  ~JobSlot() override;
  JobSlot(const JobSlot&) = delete;
  JobSlot& operator=(const JobSlot&) = delete;

  // Replaces what makes the thread of the jobs started from now on (StartThread).
  void SetThreadStart(ThreadStart start) { thread_start_ = std::move(start); }
  // Whether a job goes on.
  bool Busy() const { return job_ != nullptr; }
  // Starts job; once its `finished` signal came, the job is gone and `done` gets the result, unless `receiver` is
  // gone by then. False, and the job gone unstarted, while another job goes on; the std::system_error of a thread
  // that cannot be made passes on and leaves the slot as it was.
  template <class Job, class Result>
  bool Start(std::unique_ptr<Job> job, void (Job::*finished)(Result), QObject* receiver,
             std::function<void(std::decay_t<Result>)> done);
  // Asks the job that goes on to stop; it ends with its result as it stood.
  void Cancel() {
    if (stop_) stop_();
  }

 signals:
  // The slot became busy, or idle again after the handler of its job's end; a handler that starts the next job
  // leaves it busy without a word.
  void busyChanged(bool busy);
  // A job started, the one that a handler started too.
  void started();

 private:
  std::unique_ptr<QObject> job_;
  std::function<void()> stop_;
  ThreadStart thread_start_ = StartThread;
  bool ending_ = false;  // the handler of a job's end runs
};

template <class Job, class Result>
bool JobSlot::Start(std::unique_ptr<Job> job, void (Job::*finished)(Result), QObject* receiver,
                    std::function<void(std::decay_t<Result>)> done) {
  if (job_ != nullptr) return false;
  Job* const running = job.get();
  connect(running, finished, this,
          [this, receiver = QPointer<QObject>(receiver), done = std::move(done)](Result result) {
            // The job's thread has handed over its result and ends now: waiting for it is short. The handler and
            // its receiver are copied first, since the connection goes with the job.
            const QPointer<QObject> alive = receiver;
            const std::function<void(std::decay_t<Result>)> handler = done;
            job_.reset();
            stop_ = nullptr;
            ending_ = true;
            try {
              if (alive) handler(std::move(result));
            } catch (...) {
              ending_ = false;
              if (job_ == nullptr) emit busyChanged(false);
              throw;
            }
            ending_ = false;
            if (job_ == nullptr) emit busyChanged(false);
          });
  running->Start(thread_start_);
  job_ = std::move(job);
  stop_ = [running] { running->Stop(); };
  if (!ending_) emit busyChanged(true);
  emit started();
  return true;
}

}  // namespace varnok
