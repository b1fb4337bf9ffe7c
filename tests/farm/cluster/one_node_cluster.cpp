#include "farm/cluster/one_node_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "host/app/farm/slurm.h"

namespace fs = std::filesystem;

namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = std::string(path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin";
  std::stringstream in(dirs);
  std::string dir;
  while (std::getline(in, dir, ':'))
    if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

// A port on 127.0.0.1 that was free a moment ago.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ShortHostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  std::string host = name;
  return host.substr(0, host.find('.'));
}

}  // namespace

std::string OneNodeCluster::Unavailable() {
  if (::geteuid() != 0) return "the one-node Slurm cluster needs root (slurmd runs jobs as root); CI runs as root";
  for (const char* program : {"munged", "slurmctld", "slurmd", "sbatch", "squeue", "scancel", "sinfo"})
    if (!OnPath(program))
      return std::string(program) + " is not installed (Debian packages slurm-wlm and munge; `make deps`)";
  return "";
}

pid_t OneNodeCluster::Spawn(const std::vector<std::string>& argv, const std::string& logName) {
  const fs::path log = folder_ / "logs" / logName;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The daemon ends with the test process, whatever ends it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  if (pid > 0) daemons_.push_back(pid);
  return pid;
}

bool OneNodeCluster::Start() {
  std::string pattern = (fs::temp_directory_path() / "velumbra-slurm-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    error_ = "cannot make a temporary folder";
    return false;
  }
  folder_ = pattern;
  // munged wants its socket's folder searchable by everyone.
  fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  for (const char* sub : {"state", "spool", "logs"}) fs::create_directories(folder_ / sub);

  // munge: a key of its own, readable by its owner only.
  {
    std::random_device random;
    std::string key(1024, '\0');
    for (char& c : key) c = static_cast<char>(random());
    std::ofstream(folder_ / "munge.key", std::ios::binary) << key;
    fs::permissions(folder_ / "munge.key", fs::perms::owner_read | fs::perms::owner_write);
  }
  const fs::path socket = folder_ / "munge.socket";

  // The node as slurmd sees it: "NodeName=vm CPUs=2 ... RealMemory=24105".
  const velumbra::ProgramResult probe = velumbra::RunProgram({"slurmd", "-C"});
  std::string node = probe.out.substr(0, probe.out.find('\n'));
  if (probe.status != 0 || node.rfind("NodeName=", 0) != 0) {
    error_ = "slurmd -C answered: " + probe.out + probe.err;
    return false;
  }
  const std::string host = ShortHostName();
  node = "NodeName=" + host + node.substr(node.find(' '));
  if (const size_t cpus = node.find("CPUs="); cpus != std::string::npos) cpus_ = std::atoi(node.c_str() + cpus + 5);
  if (cpus_ < 1) cpus_ = 1;

  const int controllerPort = FreePort();
  int nodePort = FreePort();
  while (nodePort == controllerPort) nodePort = FreePort();
  const std::string f = folder_.string();
  std::ofstream conf(Conf());
  conf << "# A one-node cluster for velumbra's farm test.\n"
       << "ClusterName=velumbratest\n"
       << "SlurmctldHost=" << host << "(127.0.0.1)\n"
       << "SlurmctldPort=" << controllerPort << "\n"
       << "SlurmdPort=" << nodePort << "\n"
       << "CommunicationParameters=NoInAddrAny,NoCtldInAddrAny\n"
       << "SlurmUser=root\nSlurmdUser=root\n"
       << "AuthType=auth/munge\nCredType=cred/munge\n"
       << "AuthInfo=socket=" << socket.string() << "\n"
       << "StateSaveLocation=" << f << "/state\n"
       << "SlurmdSpoolDir=" << f << "/spool\n"
       << "SlurmctldPidFile=" << f << "/slurmctld.pid\n"
       << "SlurmdPidFile=" << f << "/slurmd.pid\n"
       << "SlurmctldLogFile=" << f << "/logs/slurmctld.log\n"
       << "SlurmdLogFile=" << f << "/logs/slurmd.log\n"
       // No cgroups in a container: processes tracked by parentage, tasks
       // not bound, no accounting.
       << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
       << "JobAcctGatherType=jobacct_gather/none\nAccountingStorageType=accounting_storage/none\n"
       << "JobCompType=jobcomp/none\nMpiDefault=none\nMailProg=/bin/true\n"
       << "SchedulerType=sched/builtin\nSelectType=select/cons_tres\nSelectTypeParameters=CR_CPU_Memory\n"
       << "ReturnToService=2\nKillWait=2\n"
       << node << " NodeAddr=127.0.0.1 State=UNKNOWN\n"
       << "PartitionName=farmtest Nodes=" << host << " Default=YES MaxTime=INFINITE State=UP\n";
  conf.close();
  // UpTime= (and anything after RealMemory that slurmd -C adds) is not a
  // node setting.
  {
    std::string text = Slurp(Conf());
    for (const char* field : {" UpTime=", " Uptime="}) {
      const size_t at = text.find(field);
      if (at != std::string::npos) text.erase(at, text.find(' ', at + 1) - at);
    }
    std::ofstream(Conf()) << text;
  }
  ::setenv("SLURM_CONF", Conf().c_str(), 1);

  Spawn({"munged", "--foreground", "--key-file=" + f + "/munge.key", "--socket=" + socket.string(),
         "--pid-file=" + f + "/munged.pid", "--log-file=" + f + "/logs/munged.log", "--seed-file=" + f + "/munged.seed"},
        "munged.out");
  for (double end = Now() + 10; !fs::exists(socket) && Now() < end;) Sleep(0.05);
  if (!fs::exists(socket)) {
    error_ = "munged did not start";
    return false;
  }
  Spawn({"slurmctld", "-D", "-i", "-f", Conf().string()}, "slurmctld.out");
  Spawn({"slurmd", "-D", "-f", Conf().string()}, "slurmd.out");
  if (!WaitUntilIdle(30)) {
    error_ = "the node did not come up idle within 30 s";
    return false;
  }
  return true;
}

bool OneNodeCluster::WaitUntilIdle(double seconds) {
  for (const double end = Now() + seconds; Now() < end; Sleep(0.2)) {
    const velumbra::ProgramResult r = velumbra::RunProgram({"sinfo", "--noheader", "--format=%T"});
    if (r.status == 0 && r.out.rfind("idle", 0) == 0) return true;
  }
  return false;
}

std::string OneNodeCluster::Logs() const {
  std::string all;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder_ / "logs", ec))
    all += "== " + entry.path().filename().string() + "\n" + Slurp(entry.path()) + "\n";
  return all;
}

void OneNodeCluster::Stop() {
  if (folder_.empty()) return;
  if (daemons_.size() >= 2) {
    // Every job cancelled and gone first, so that no job step outlives the
    // node daemon.
    const velumbra::ProgramResult jobs = velumbra::RunProgram({"squeue", "--noheader", "--format=%i"});
    if (jobs.status == 0 && !jobs.out.empty()) {
      std::vector<std::string> cancel{"scancel"};
      std::stringstream in(jobs.out);
      for (std::string id; in >> id;) cancel.push_back(id);
      velumbra::RunProgram(cancel);
      for (double end = Now() + 15; Now() < end; Sleep(0.2)) {
        const velumbra::ProgramResult left = velumbra::RunProgram({"squeue", "--noheader", "--format=%i"});
        if (left.status != 0 || left.out.empty()) break;
      }
    }
  }
  // The daemons in reverse order: slurmd, slurmctld, munged.
  for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) {
    ::kill(*it, SIGTERM);
    int status = 0;
    bool ended = false;
    for (double end = Now() + 10; Now() < end && !ended; Sleep(0.05)) ended = ::waitpid(*it, &status, WNOHANG) == *it;
    if (!ended) {
      ::kill(*it, SIGKILL);
      ::waitpid(*it, &status, 0);
    }
  }
  daemons_.clear();
  ::unsetenv("SLURM_CONF");
  std::error_code ec;
  fs::remove_all(folder_, ec);
  folder_.clear();
}
