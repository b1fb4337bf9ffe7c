// Runs the built velumbra binary for end-to-end tests: arguments as given
// (no shell), standard output and error captured, exit status returned.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/build_dirs.h"


inline std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Limits of the child process: an address-space limit (ulimit -v) in bytes
// (0: none) and environment variables to set.
struct CommandLimits {
  std::uint64_t addressSpace = 0;
  std::vector<std::pair<std::string, std::string>> env;
};

struct CommandResult {
  int status = -1;      // the exit status; 128 + n when signal n ended it
  std::string out;
  std::string err;
};

// A velumbra process started in `cwd` with stdout and stderr going to files
// in `logDir`.
class Command {
 public:
  Command(const std::vector<std::string>& args, const std::filesystem::path& cwd,
          const std::filesystem::path& logDir, const CommandLimits& limits = {})
      : outFile_(logDir / "stdout.txt"), errFile_(logDir / "stderr.txt") {
    std::vector<std::string> argv{(BuildDir() / "velumbra").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(cwd.c_str()) != 0) ::_exit(127);
      for (const auto& [name, value] : limits.env) ::setenv(name.c_str(), value.c_str(), 1);
      if (limits.addressSpace != 0) {
        const rlimit limit{limits.addressSpace, limits.addressSpace};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
      }
      const int out = ::open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) ::_exit(127);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> cargv;
      for (std::string& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      ::execv(cargv[0], cargv.data());
      ::_exit(127);
    }
  }

  pid_t Pid() const { return pid_; }
  std::string ErrSoFar() const { return Slurp(errFile_); }

  CommandResult Wait() {
    CommandResult r;
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_)
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Slurp(outFile_);
    r.err = Slurp(errFile_);
    return r;
  }

 private:
  std::filesystem::path outFile_, errFile_;
  pid_t pid_ = -1;
};

inline CommandResult RunVelumbra(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                                 const std::filesystem::path& logDir, const CommandLimits& limits = {}) {
  return Command(args, cwd, logDir, limits).Wait();
}
