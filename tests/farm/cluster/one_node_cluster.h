// A one-node Slurm cluster for tests: munged with its own key, socket and
// pid file, slurmctld and slurmd with a generated slurm.conf. Everything
// lives in a temporary folder (state, spool, logs, pid files); the daemons
// listen on free ports of the loopback interface; nothing under /etc is
// read or changed (SLURM_CONF points the client commands at the folder's
// slurm.conf). The node is this machine under its short host name, with the
// CPUs and memory `slurmd -C` finds.
//
// The daemons run in the foreground as children of the test process, each
// told by the kernel to end when the test process ends (PR_SET_PDEATHSIG),
// so that none outlives a crashed test. Stop() (and the destructor) cancels
// every job, then stops the daemons and removes the folder.
//
// slurmd runs jobs as root and must itself be root: the cluster needs root.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

class OneNodeCluster {
 public:
  // Why a cluster cannot be started here (not root, a program missing);
  // empty when it can.
  static std::string Unavailable();

  OneNodeCluster() = default;
  ~OneNodeCluster() { Stop(); }
  OneNodeCluster(const OneNodeCluster&) = delete;
  OneNodeCluster& operator=(const OneNodeCluster&) = delete;

  // Starts the daemons and waits until the node is idle. False, with the
  // reason in Error() and the daemons' logs in it, when it does not come up.
  bool Start();
  void Stop();

  const std::string& Error() const { return error_; }
  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path Conf() const { return folder_ / "slurm.conf"; }
  int Cpus() const { return cpus_; }

  // The daemons' log files, joined, for a failing test's output.
  std::string Logs() const;

 private:
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& logName);
  bool WaitUntilIdle(double seconds);

  std::filesystem::path folder_;
  std::vector<pid_t> daemons_;  // in start order: munged, slurmctld, slurmd
  std::string error_;
  int cpus_ = 1;
};
