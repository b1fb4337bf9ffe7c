#include "host/app/output/frame_writer.h"

namespace velumbra {

FrameWriter::FrameWriter(bool background) {
  if (background) thread_ = std::thread([this] { Run(); });
}

FrameWriter::~FrameWriter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

void FrameWriter::RethrowLocked(std::unique_lock<std::mutex>& lock) {
  if (!failure_) return;
  std::exception_ptr failure = failure_;
  failure_ = nullptr;
  lock.unlock();
  std::rethrow_exception(failure);
}

void FrameWriter::Submit(Job job) {
  if (!thread_.joinable()) {
    std::vector<std::string> files = job();
    std::lock_guard<std::mutex> lock(mutex_);
    written_.insert(written_.end(), files.begin(), files.end());
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() || failure_; });
  RethrowLocked(lock);
  queue_.push_back(std::move(job));
  lock.unlock();
  changed_.notify_all();
}

void FrameWriter::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || failure_; });
  RethrowLocked(lock);
}

std::vector<std::string> FrameWriter::TakeWritten() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  out.swap(written_);
  return out;
}

void FrameWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    changed_.notify_all();  // room for the next Submit
    std::vector<std::string> files;
    std::exception_ptr failure;
    try {
      files = job();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (failure) {
      // Nothing after a failed frame is written: the run stops there.
      if (!failure_) failure_ = failure;
      queue_.clear();
    } else {
      written_.insert(written_.end(), files.begin(), files.end());
    }
    changed_.notify_all();
  }
}

}  // namespace velumbra
