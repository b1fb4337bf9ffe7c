// The render farm: a frame list rendered as a Slurm job array.
//
// A farm job cuts the frame list into chunks of consecutive frames of the
// list, one array task each; every task runs `velumbra render` (the same
// binary, by its absolute path, and so the modules beside it) on its chunk.
// Everything a task reads is on the shared file system: the job folder,
// made at submission beside the outputs, holds a copy of the scene with
// absolute paths (so that editing the scene later changes no running job),
// the batch script and one log per task:
//
//   <outputs>/velumbra-farm/<scene>-<YYYYmmdd-HHMMSS>[-n]/
//       scene.json  job.sh  logs/task-<index>.log
//
// where <outputs> is the output name's folder up to its first '#' run.
//
// This file holds the decisions, each a function of plain values so that
// tests reach them without a cluster: chunking, the batch script and the
// quoting it needs, the checks of the Slurm options, which frames a resumed
// job renders, and what a finished job reports. farm_command.cpp runs them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/app/farm/slurm.h"

namespace velumbra {

// --- chunks -------------------------------------------------------------------------

// One array task: its index and its frames, in list order.
struct FarmTask {
  int index = 0;
  std::vector<int> frames;
};

// The largest array a job asks for by default: Slurm's own default limit
// (MaxArraySize = 1001 allows the indices 0..1000).
inline constexpr std::size_t kDefaultMaxArrayTasks = 1000;

// The chunk size when none is given: one frame a task (the least lost to a
// failed or cancelled task), or, for lists longer than kDefaultMaxArrayTasks,
// the smallest size that keeps the array within it.
int DefaultChunkSize(std::size_t frameCount);

// Cuts `frames` into tasks of `chunk` consecutive frames of the list (the
// last may be shorter), indexed from 0. `chunk` >= 1.
std::vector<FarmTask> ChunkFrames(std::span<const int> frames, int chunk);

// The shortest frame list (frame_range.h) that reads back as exactly
// `frames`, in order: runs of three or more frames a constant step apart
// become "first-last" or "first-lastxstep", the rest single frames joined by
// commas ("1-12", "1-11x2,20", "5,3", "10-1x-1").
std::string FrameListText(std::span<const int> frames);

// --- the Slurm options ------------------------------------------------------------------

// --mem: a whole number with an optional unit K, M, G or T (binary, as
// Slurm reads them; no unit is M). Returns MiB, rounded up. InputError
// naming --mem otherwise; 0 is allowed (Slurm gives the node's memory).
std::uint64_t ParseMemoryMiB(std::string_view text);

// --time: a Slurm time limit ("30", "30:00", "2:30:00", "1-0", "1-2:30",
// "1-2:30:00", "UNLIMITED", "INFINITE"). InputError naming --time otherwise.
void CheckTimeLimit(std::string_view text);

// --partition: one or more partition names, comma-separated, of letters,
// digits, '_', '-' and '.'. InputError naming --partition otherwise.
void CheckPartition(std::string_view text);

// The memory a task asks for, in MiB: the render's estimate
// (memory_estimate.h) with a tenth more for what it does not model
// (allocator slack, the C library's buffers), rounded up.
std::uint64_t MemoryRequestMiB(std::uint64_t estimateBytes);

// --- the batch script ------------------------------------------------------------------

// `text` as one word for the shell: in single quotes, each ' written '\''.
std::string ShellQuote(std::string_view text);

// `text` as one argument of an #SBATCH line: in double quotes, with '"',
// '\' and '#' (which would start a comment) escaped by a backslash. Throws
// InputError for a line break, which no #SBATCH line can hold.
std::string SbatchQuote(std::string_view text);

// `text` for a Slurm file name pattern: '%' doubled, so that only the
// script's own %a is replaced.
std::string SlurmFilePattern(std::string_view text);

struct BatchScriptOptions {
  std::string jobName;
  std::filesystem::path logDir;  // absolute; logs/task-%a.log go here
  std::string partition;         // empty: the user's or cluster's default
  std::string timeLimit;         // empty: the partition's default
  std::uint64_t memoryMiB = 0;   // --mem in MiB
  int cpus = 0;                  // 0: Slurm's default (one), and the render's default threads
  // The render command without its frames, argv[0] the absolute binary;
  // the script adds -f <the task's frames>.
  std::vector<std::string> render;
};

// Throws InputError when a log folder cannot go into an #SBATCH --output
// pattern: Slurm takes any backslash in it as "expand nothing" and drops
// it (no escape keeps both a backslash and %a).
void CheckSlurmFileFolder(const std::filesystem::path& folder);

// The batch script of the job array: #SBATCH lines for the options, the
// frames of each task, and the render command run with exec (its exit
// status is the task's). Tasks must be indexed 0..n-1.
std::string BatchScript(std::span<const FarmTask> tasks, const BatchScriptOptions& options);

// --- the job folder ---------------------------------------------------------------------

// The folder of an output name up to its first '#' run (absolute when the
// name is): "/r/out/f.####.png" -> "/r/out", "/r/shots/####/f.png" ->
// "/r/shots", "f.#.png" -> "".
std::filesystem::path OutputBaseFolder(const std::filesystem::path& output);

// "<base>/velumbra-farm/<stem>-<YYYYmmdd-HHMMSS>" (UTC). `stem` is made
// safe for file names: letters, digits, '.', '_' and '-' stay, anything else
// becomes '_'.
std::filesystem::path JobFolderPath(const std::filesystem::path& base, std::string_view stem, std::int64_t unixTime);

// Creates JobFolderPath, with "-2", "-3"... added when the name is taken,
// and its logs/ folder. Throws SystemError when the folder cannot be made.
std::filesystem::path MakeJobFolder(const std::filesystem::path& base, std::string_view stem, std::int64_t unixTime);

// A job folder made for a submission (MakeJobFolder), taken back unless the
// submission goes through: a failed submission (sbatch refusing, no Slurm
// configured, a file that cannot be written) leaves nothing behind, neither
// the job folder nor the folders made for it (velumbra-farm/, the output's
// folder) when they are empty. Keep() once the job is submitted.
class JobFolderClaim {
 public:
  JobFolderClaim(const std::filesystem::path& base, std::string_view stem, std::int64_t unixTime);
  ~JobFolderClaim();
  JobFolderClaim(const JobFolderClaim&) = delete;
  JobFolderClaim& operator=(const JobFolderClaim&) = delete;

  const std::filesystem::path& Path() const { return folder_; }
  void Keep() { keep_ = true; }

 private:
  std::vector<std::filesystem::path> made_;  // folders that did not exist before, deepest first
  std::filesystem::path folder_;
  bool keep_ = false;
};

// The log of task `index` in a job folder.
std::filesystem::path TaskLogPath(const std::filesystem::path& jobFolder, int index);

// --- outputs -----------------------------------------------------------------------------

// Every file one frame writes: its image, and with an --ids prefix (PNG
// outputs only; an OpenEXR output carries the IDs) the two ID images.
std::vector<std::filesystem::path> FrameOutputFiles(const std::string& output, const std::string& idsPrefix,
                                                    int frame);

enum class OutputState { Missing, Damaged, Complete };

// Whether one frame's files are all there and decode (PNG and OpenEXR read
// in full). Damaged when a file is there but does not read, or is not a
// regular file.
OutputState CheckFrameOutputs(const std::vector<std::filesystem::path>& files);

// The frames of `frames` whose state is not Complete, in list order;
// `state` tells a frame's state (CheckFrameOutputs of its files in use).
std::vector<int> FramesToResume(std::span<const int> frames, const std::function<OutputState(int)>& state);

// What identifies a file's version: a new file from an atomic write (a new
// inode renamed over the old) differs in inode or change time.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0, inode = 0;
  std::int64_t changeSeconds = 0, changeNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::filesystem::path& file);

// --- the report of a finished job ---------------------------------------------------------

struct FailedTask {
  int index = 0;
  std::vector<int> frames;   // the task's frames
  std::vector<int> missing;  // those not written
  std::filesystem::path log;
  std::string state;      // Slurm's last known state and reason, e.g. "FAILED (NonZeroExitCode)"; may be empty
  std::string lastError;  // the log's last error line, may be empty
};

// The tasks with a frame not written, in index order. `written` tells
// whether a frame was written by the job; `states` holds Slurm's last
// known state of each task; `readLog` gives a log's text (empty when
// unreadable).
std::vector<FailedTask> FailedTasks(std::span<const FarmTask> tasks, const std::function<bool(int)>& written,
                                    const std::map<int, SlurmTaskState>& states,
                                    const std::filesystem::path& jobFolder,
                                    const std::function<std::string(const std::filesystem::path&)>& readLog);

// The line of a task's log that says best why it failed: the last
// "velumbra: error:" line, else the last line from Slurm ("slurmstepd:",
// e.g. a cancellation or time limit), else empty.
std::string LastErrorLine(std::string_view log);

// The report for the user: one paragraph per failed task with its frames,
// Slurm's state, the error line and the log file; and how to render only
// what is missing.
std::string FailureReport(const std::string& jobId, std::span<const FailedTask> failed, std::size_t missingFrames);

}  // namespace velumbra
