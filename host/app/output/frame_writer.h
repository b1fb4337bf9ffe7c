// Frames written while the next one renders.
//
// The render command hands each finished frame's writes to a FrameWriter;
// with a background thread they run there, one frame at a time and in the
// order given, while the caller renders the next frame. At most one frame
// waits besides the one being written, so memory stays at three frames.
// Files are still written atomically (AtomicFile), so Ctrl-C leaves only
// whole frames: a write in progress when it arrives is discarded at its
// commit, and nothing queued after it starts.
//
// Messages stay in frame order and on the caller's thread: the writer only
// records which files each finished job wrote; the caller prints them
// (TakeWritten) where its progress display allows.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velumbra {

class FrameWriter {
 public:
  // A job writes one frame's files and returns their names.
  using Job = std::function<std::vector<std::string>()>;

  // `background` false runs each job at once in Submit (the straightforward
  // order, used with a single thread).
  explicit FrameWriter(bool background);
  // Waits for the job in progress and drops the queued ones; failures are
  // not reported here (call Finish for that).
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Queues `job`, first waiting while another job is queued. Rethrows the
  // failure of an earlier job, if any (the job is then not queued).
  void Submit(Job job);

  // Waits until every queued job has run; rethrows the first failure.
  void Finish();

  // The files written since the last call, in the order of their jobs.
  std::vector<std::string> TakeWritten();

 private:
  void Run();
  void RethrowLocked(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  bool busy_ = false;      // a job is running
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::string> written_;
  std::thread thread_;
};

}  // namespace velumbra
