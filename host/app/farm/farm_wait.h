// Following a submitted farm job to its end (velumbra farm --wait).
//
// The job is polled with squeue, twice a second at first and less often
// as it goes on (every 10 s after five minutes), and a frame counts as written
// once every file it writes is there as a new file: atomic writes rename a
// new inode over the target, so a frame left from an earlier run, which the
// job renders again, is not counted until its new version lands. The
// progress display (progress.h) shows frames written of the total and the
// tasks pending and running.
//
// The job has ended when squeue lists none of its tasks in an active state
// (or no longer knows it). A task Slurm reports COMPLETED whose frames are
// not visible yet (a shared file system may show new files late) is given
// up to 30 s more. Every frame there: exit 0. Otherwise a SystemError
// carries the report (farm.h FailureReport: the failed tasks, their frames,
// Slurm's state, the error line and the log of each), exit 1.
//
// squeue failing (the controller restarting, say) is retried; after a
// minute without an answer the waiting ends with a SystemError that says the
// job may go on.
//
// Ctrl-C stops the waiting, not the job: the command says how many frames
// are written, that the job goes on, and how to cancel it, and exits 130.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/app/farm/farm.h"
#include "host/app/farm/slurm.h"

namespace velumbra {

// What was submitted, and how the outputs stood before.
struct SubmittedJob {
  std::string jobId;
  std::vector<FarmTask> tasks;
  std::string output;     // absolute output name with '#' runs
  std::string idsPrefix;  // absolute, or empty
  std::filesystem::path folder;
  std::size_t framesDone = 0;  // frames of the list already complete (--resume), counted as written
  // Each output file's stamp before submission (absent files included).
  std::map<std::filesystem::path, FileStamp> before;
};

// Records the stamps of every output file of the job's tasks.
void RecordOutputStamps(SubmittedJob& job);

// Waits as described above. Returns 0 when every frame is written, 130 on
// Ctrl-C; throws SystemError with the report when frames are missing.
int WaitForJob(const SubmittedJob& job, const SlurmClient& slurm, bool quiet);

}  // namespace velumbra
