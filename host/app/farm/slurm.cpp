#include "host/app/farm/slurm.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "host/app/base/app_error.h"

extern char** environ;

namespace velumbra {

namespace {

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// The Debian package of a command, for the message when it is missing.
std::string PackageHint(const std::string& program) {
  if (program == "sbatch" || program == "squeue" || program == "scancel" || program == "sacct" ||
      program == "scontrol")
    return " (Slurm's client commands: Debian package slurm-client)";
  return "";
}

std::string FirstLine(std::string_view text) {
  const size_t end = text.find('\n');
  return std::string(text.substr(0, end));
}

// Slurm's messages end in a newline and often repeat the program's name.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) throw SystemError("RunProgram: no program given");
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) throw SystemError(std::string("cannot make a pipe: ") + std::strerror(errno));
  Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
  if (::pipe2(errPipe, O_CLOEXEC) != 0) throw SystemError(std::string("cannot make a pipe: ") + std::strerror(errno));
  Fd errRead{errPipe[0]}, errWrite{errPipe[1]};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.fd, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so that Ctrl-C at the terminal reaches only us:
  // a submission is never cut in half. Default signal actions and an empty
  // mask, whatever ours are.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0)
    throw SystemError("cannot run " + argv[0] + ": " + std::strerror(spawned) + PackageHint(argv[0]));
  outWrite.Close();
  errWrite.Close();

  ProgramResult result;
  pollfd fds[2] = {{outRead.fd, POLLIN, 0}, {errRead.fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;  // the descriptor itself closes with its Fd
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw SystemError("cannot wait for " + argv[0] + ": " + std::strerror(errno));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool IsActiveState(std::string_view state) {
  static constexpr std::string_view kActive[] = {"PENDING",   "RUNNING",  "CONFIGURING", "COMPLETING",
                                                 "SUSPENDED", "REQUEUED", "REQUEUE_HOLD", "REQUEUE_FED",
                                                 "RESIZING",  "SIGNALING", "STAGE_OUT",  "RESV_DEL_HOLD"};
  for (std::string_view s : kActive)
    if (state == s) return true;
  return false;
}

std::vector<SlurmTaskState> ParseSqueueTasks(std::string_view text) {
  std::vector<SlurmTaskState> tasks;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const size_t a = line.find('|');
    const size_t b = a == std::string_view::npos ? a : line.find('|', a + 1);
    if (b == std::string_view::npos)
      throw SystemError("squeue answered a line that is not \"index|state|reason\": \"" + std::string(line) + "\"");
    const std::string_view index = line.substr(0, a);
    SlurmTaskState task;
    task.state = std::string(line.substr(a + 1, b - a - 1));
    task.reason = std::string(line.substr(b + 1));
    // A job that is not an array has no index ("N/A"), a job array's
    // pending rest may be shown as a range when -r is not honoured: neither
    // names one task.
    if (index.empty() || index.find_first_not_of("0123456789") != std::string_view::npos) continue;
    if (index.size() > 9) throw SystemError("squeue answered an array index out of range: \"" + std::string(line) + "\"");
    task.index = std::stoi(std::string(index));
    tasks.push_back(std::move(task));
  }
  return tasks;
}

std::optional<std::string> ParseSbatchJobId(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  const std::string_view id = text.substr(0, text.find(';'));
  if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  return std::string(id);
}

std::string SlurmClient::Submit(const std::string& script) const {
  const ProgramResult r = RunProgram({"sbatch", "--parsable", script});
  if (r.status != 0)
    throw SystemError("sbatch refused the job (exit status " + std::to_string(r.status) +
                      "): " + Trimmed(r.err.empty() ? r.out : r.err));
  const std::optional<std::string> id = ParseSbatchJobId(r.out);
  if (!id) throw SystemError("sbatch answered no job ID: \"" + Trimmed(r.out) + "\"");
  return *id;
}

std::optional<std::vector<SlurmTaskState>> SlurmClient::Tasks(const std::string& jobId) const {
  const ProgramResult r = RunProgram({"squeue", "--noheader", "--array", "--states=all", "--jobs=" + jobId,
                                      "--format=%K|%T|%r"});
  if (r.status != 0) {
    if (r.err.find("Invalid job id") != std::string::npos) return std::nullopt;
    throw SystemError("squeue cannot tell the state of job " + jobId + ": " + Trimmed(FirstLine(r.err)));
  }
  return ParseSqueueTasks(r.out);
}

void SlurmClient::Cancel(const std::string& jobId) const {
  const ProgramResult r = RunProgram({"scancel", jobId});
  if (r.status != 0) throw SystemError("scancel " + jobId + " failed: " + Trimmed(r.err));
}

}  // namespace velumbra
