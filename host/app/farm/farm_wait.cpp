#include "host/app/farm/farm_wait.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <thread>

#include "host/app/base/app_error.h"
#include "host/app/progress.h"

namespace fs = std::filesystem;

namespace velumbra {

namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Sleeps `seconds` in short steps; false when Ctrl-C came meanwhile.
bool SleepUnlessInterrupted(double seconds) {
  const double end = Now() + seconds;
  while (Now() < end) {
    if (InterruptGuard::Requested()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return !InterruptGuard::Requested();
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FrameWatch {
 public:
  explicit FrameWatch(const SubmittedJob& job) : job_(job) {}

  // True once every file of the frame is there and new since submission.
  bool Written(int frame) const {
    if (written_.count(frame)) return true;
    for (const fs::path& file : FrameOutputFiles(job_.output, job_.idsPrefix, frame)) {
      const FileStamp now = StampOf(file);
      const auto it = job_.before.find(file);
      if (!now.exists || (it != job_.before.end() && it->second == now)) return false;
    }
    written_.insert(frame);
    return true;
  }

  // The frames written since the last call, in list order.
  std::vector<int> NewlyWritten() const {
    std::vector<int> frames;
    for (const FarmTask& t : job_.tasks)
      for (int f : t.frames)
        if (!reported_.count(f) && Written(f)) {
          reported_.insert(f);
          frames.push_back(f);
        }
    return frames;
  }

  std::size_t Count() const {
    std::size_t n = 0;
    for (const FarmTask& t : job_.tasks)
      for (int f : t.frames) n += Written(f) ? 1 : 0;
    return n;
  }

 private:
  const SubmittedJob& job_;
  mutable std::set<int> written_;   // frames seen written (they stay so)
  mutable std::set<int> reported_;  // frames NewlyWritten has given
};

}  // namespace

void RecordOutputStamps(SubmittedJob& job) {
  for (const FarmTask& t : job.tasks)
    for (int frame : t.frames)
      for (const fs::path& file : FrameOutputFiles(job.output, job.idsPrefix, frame)) job.before[file] = StampOf(file);
}

int WaitForJob(const SubmittedJob& job, const SlurmClient& slurm, bool quiet) {
  std::size_t jobFrames = 0;
  for (const FarmTask& t : job.tasks) jobFrames += t.frames.size();
  const std::size_t total = jobFrames + job.framesDone;
  const FrameWatch watch(job);
  std::map<int, SlurmTaskState> states;  // the last state seen of each task

  InterruptGuard guard;
  // On a terminal the bar: "frame 9 (7/12)" waits for the 7th frame of 12,
  // the next one of the list not yet written, with the tasks' states as its
  // title and the time left. In a log a line for each frame written and
  // each change of the tasks' states.
  const ProgressReporter::Style style = ProgressReporter::StyleFor(quiet, stderr);
  ProgressReporter progress(style == ProgressReporter::Style::Bar ? style : ProgressReporter::Style::Quiet, stderr);
  std::size_t shownWritten = SIZE_MAX;
  std::string shownTitle;
  const double start = Now();
  double lastAnswer = start;
  while (true) {
    if (InterruptGuard::Requested()) break;
    // A controller that does not answer for a while (a restart, a busy
    // moment) is waited for; only a minute of silence ends the waiting.
    std::optional<std::vector<SlurmTaskState>> tasks;
    try {
      tasks = slurm.Tasks(job.jobId);
      lastAnswer = Now();
    } catch (const SystemError& e) {
      if (Now() - lastAnswer > 60.0) {
        progress.EndLine();
        throw SystemError(std::string(e.what()) + " for a minute; job " + job.jobId +
                          " may go on: follow it with squeue -j " + job.jobId);
      }
      if (!SleepUnlessInterrupted(2.0)) break;
      continue;
    }
    if (tasks)
      for (const SlurmTaskState& t : *tasks) states[t.index] = t;
    const std::vector<int> newly = watch.NewlyWritten();
    const std::size_t written = job.framesDone + watch.Count();

    int pending = 0, running = 0;
    bool active = false;
    if (tasks)
      for (const SlurmTaskState& t : *tasks) {
        if (!IsActiveState(t.state)) continue;
        active = true;
        if (t.state == "PENDING") ++pending;
        else ++running;
      }
    const std::string title = std::to_string(running) + " running, " + std::to_string(pending) + " pending";
    if (style == ProgressReporter::Style::Lines) {
      std::size_t n = written - newly.size();
      for (int f : newly)
        std::fprintf(stderr, "velumbra: job %s: frame %d written (%zu/%zu)\n", job.jobId.c_str(), f, ++n, total);
      if (title != shownTitle && active) std::fprintf(stderr, "velumbra: job %s: %s\n", job.jobId.c_str(), title.c_str());
      std::fflush(stderr);
      shownTitle = title;
    } else if (style == ProgressReporter::Style::Bar && written < total) {
      if (written != shownWritten) {
        const auto nextFrame = [&] {
          for (const FarmTask& t : job.tasks)
            for (int f : t.frames)
              if (!watch.Written(f)) return f;
          return 0;
        };
        progress.StartFrame(nextFrame(), static_cast<int>(written), static_cast<int>(total));
        shownWritten = written;
        shownTitle.clear();
      }
      if (title != shownTitle) {
        progress.SetTitle(title.c_str());
        shownTitle = title;
      }
      progress.Progress(0, 1);  // redraws the time left
    }
    if (!active) break;
    const double interval = std::min(10.0, 0.5 + (Now() - start) / 30.0);
    if (!SleepUnlessInterrupted(interval)) break;
  }
  progress.EndLine();

  if (InterruptGuard::Requested()) {
    std::fprintf(stderr,
                 "velumbra: stopped waiting; job %s goes on (%zu of %zu frames written so far)\n"
                 "velumbra: follow it with: squeue -j %s    cancel it with: scancel %s\n",
                 job.jobId.c_str(), job.framesDone + watch.Count(), total, job.jobId.c_str(), job.jobId.c_str());
    return 130;
  }

  // Tasks Slurm saw complete whose frames do not show yet: a shared file
  // system may show new files a little late.
  const auto lateFrames = [&] {
    std::size_t late = 0;
    for (const FarmTask& t : job.tasks) {
      const auto it = states.find(t.index);
      if (it == states.end() || it->second.state != "COMPLETED") continue;
      for (int f : t.frames) late += watch.Written(f) ? 0 : 1;
    }
    return late;
  };
  for (int i = 0; i < 15 && lateFrames() > 0; ++i)
    if (!SleepUnlessInterrupted(2.0)) break;

  const std::vector<FailedTask> failed =
      FailedTasks(job.tasks, [&](int frame) { return watch.Written(frame); }, states, job.folder, ReadText);
  if (failed.empty()) {
    if (!quiet)
      std::fprintf(stderr, "velumbra: job %s: all %zu frames written\n", job.jobId.c_str(), total);
    return 0;
  }
  std::size_t missing = 0;
  for (const FailedTask& f : failed) missing += f.missing.size();
  throw SystemError(FailureReport(job.jobId, failed, missing));
}

}  // namespace velumbra
