// Runs a program of the system (ffmpeg, melt, dpkg-deb, ...) for tests
// against real applications: arguments as given (no shell), found on PATH,
// standard output and error captured, the exit status returned.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

struct ProgramResult {
  int status = -1;  // exit status; 128 + n when signal n ended it
  std::string out;
  std::string err;
};

struct ProgramOptions {
  std::filesystem::path cwd;  // empty: the test's
  // Variables set for the child, over the test's own environment, unless
  // cleanEnvironment starts it from none (as env -i does).
  std::vector<std::pair<std::string, std::string>> env;
  bool cleanEnvironment = false;
};

inline std::string ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline ProgramResult RunProgram(const std::vector<std::string>& args, const ProgramOptions& o = {}) {
  char outName[] = "/tmp/velumbra-run-out-XXXXXX";
  char errName[] = "/tmp/velumbra-run-err-XXXXXX";
  const int out = ::mkstemp(outName), err = ::mkstemp(errName);
  ProgramResult r;
  if (out < 0 || err < 0) return r;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(127);
    if (o.cleanEnvironment) ::clearenv();
    for (const auto& [name, value] : o.env) ::setenv(name.c_str(), value.c_str(), 1);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) ::dup2(in, 0);
    std::vector<std::string> argv = args;
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    ::execvp(cargv[0], cargv.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::close(out);
  ::close(err);
  r.out = ReadFileBytes(outName);
  r.err = ReadFileBytes(errName);
  ::unlink(outName);
  ::unlink(errName);
  return r;
}
