// Slurm's own client commands, run for the render farm: sbatch to submit,
// squeue to follow a job array, scancel to stop one.
//
// The commands are found on PATH and run with posix_spawnp, never through
// a shell: every argument reaches them as given. They inherit the
// environment, so SLURM_CONF, SBATCH_* defaults and the user's own Slurm
// settings apply as they would on the command line.
//
// squeue is asked for one line per array task ("-r"), in every state
// ("--states=all"), as "<task index>|<state>|<reason>". A job the controller
// no longer knows (it forgets finished jobs after MinJobAge, 300 s by
// default) is answered "Invalid job id specified": the job has ended.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velumbra {

// What a program run to its end gave.
struct ProgramResult {
  int status = -1;  // the exit status; 128 + n when signal n ended it
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `argv` (argv[0] looked up on PATH) with standard input from
// /dev/null, collecting its output. Throws SystemError naming the program
// when it cannot be started (for a missing Slurm command, with the Debian
// package that brings it).
ProgramResult RunProgram(const std::vector<std::string>& argv);

// One task of a job array as squeue reports it.
struct SlurmTaskState {
  int index = -1;      // the array index
  std::string state;   // PENDING, RUNNING, COMPLETED, FAILED, CANCELLED, TIMEOUT, OUT_OF_MEMORY, ...
  std::string reason;  // e.g. Resources, NonZeroExitCode; "None" when there is none
};

// True for the states a task leaves by itself (pending, running, being
// configured, completing, suspended, requeued); false for the final ones.
bool IsActiveState(std::string_view state);

// Parses squeue's lines "<index>|<state>|<reason>". Lines without an array
// index (a job that is not an array) are skipped; anything else malformed
// throws SystemError quoting the line.
std::vector<SlurmTaskState> ParseSqueueTasks(std::string_view text);

// The job ID in sbatch --parsable's answer "<id>" or "<id>;<cluster>";
// nullopt when the answer is not one.
std::optional<std::string> ParseSbatchJobId(std::string_view text);

class SlurmClient {
 public:
  // Submits a batch script; returns the job ID. Throws SystemError with
  // sbatch's own message when it refuses.
  std::string Submit(const std::string& script) const;

  // The job's tasks; nullopt once the controller no longer knows the job.
  // Throws SystemError when squeue fails otherwise (e.g. no controller).
  std::optional<std::vector<SlurmTaskState>> Tasks(const std::string& jobId) const;

  // Cancels the job (every task). Throws SystemError when scancel fails.
  void Cancel(const std::string& jobId) const;
};

}  // namespace velumbra
