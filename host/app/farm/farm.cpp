#include "host/app/farm/farm.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"
#include "host/app/image/exr_io.h"
#include "host/app/output/output_name.h"
#include "host/app/image/png_io.h"

namespace fs = std::filesystem;

namespace velumbra {

namespace {

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::toupper(x) == std::toupper(y);
         });
}

std::string FrameRun(long long first, long long last, long long step) {
  std::string text = std::to_string(first) + "-" + std::to_string(last);
  if (step != 1) text += "x" + std::to_string(step);
  return text;
}

}  // namespace

// --- chunks -------------------------------------------------------------------------

int DefaultChunkSize(std::size_t frameCount) {
  if (frameCount <= kDefaultMaxArrayTasks) return 1;
  return static_cast<int>((frameCount + kDefaultMaxArrayTasks - 1) / kDefaultMaxArrayTasks);
}

std::vector<FarmTask> ChunkFrames(std::span<const int> frames, int chunk) {
  if (chunk < 1) throw std::invalid_argument("ChunkFrames: the chunk size must be at least 1");
  std::vector<FarmTask> tasks;
  for (std::size_t start = 0; start < frames.size(); start += static_cast<std::size_t>(chunk)) {
    const std::size_t end = std::min(frames.size(), start + static_cast<std::size_t>(chunk));
    FarmTask task;
    task.index = static_cast<int>(tasks.size());
    task.frames.assign(frames.begin() + static_cast<std::ptrdiff_t>(start),
                       frames.begin() + static_cast<std::ptrdiff_t>(end));
    tasks.push_back(std::move(task));
  }
  return tasks;
}

std::string FrameListText(std::span<const int> frames) {
  std::string text;
  std::size_t i = 0;
  while (i < frames.size()) {
    if (!text.empty()) text += ',';
    // A run: three or more frames a constant, nonzero step apart whose step
    // a frame list can hold.
    std::size_t end = i + 1;
    if (i + 2 < frames.size()) {
      const long long step = static_cast<long long>(frames[i + 1]) - frames[i];
      const bool usable = step != 0 && step >= std::numeric_limits<int>::min() && step <= std::numeric_limits<int>::max();
      if (usable) {
        while (end < frames.size() && static_cast<long long>(frames[end]) - frames[end - 1] == step) ++end;
        if (end - i >= 3) {
          text += FrameRun(frames[i], frames[end - 1], step);
          i = end;
          continue;
        }
      }
    }
    text += std::to_string(frames[i]);
    ++i;
  }
  return text;
}

// --- the Slurm options ------------------------------------------------------------------

std::uint64_t ParseMemoryMiB(std::string_view text) {
  const auto fail = [&]() -> std::uint64_t {
    throw InputError("--mem " + Quoted(text) +
                     ": expected a whole amount with an optional unit K, M, G or T (e.g. 4G, 4096M; no unit is M)");
  };
  std::string_view digits = text;
  int shift = 0;  // of KiB: 0 K, 10 M, 20 G, 30 T
  bool kib = false;
  if (!digits.empty() && std::isalpha(static_cast<unsigned char>(digits.back()))) {
    switch (std::toupper(static_cast<unsigned char>(digits.back()))) {
      case 'K': kib = true; break;
      case 'M': shift = 0; break;
      case 'G': shift = 10; break;
      case 'T': shift = 20; break;
      default: return fail();
    }
    digits.remove_suffix(1);
  }
  if (!AllDigits(digits) || digits.size() > 12) return fail();
  const std::uint64_t value = std::stoull(std::string(digits));
  // Slurm reads --mem=0 as "all of the node's memory": never what a task's
  // frames need, and it would hold a whole node.
  if (value == 0)
    throw InputError("--mem " + Quoted(text) + ": a task needs some memory; 0 would ask Slurm for all of each "
                     "node's memory (leave --mem out to ask for the render's estimate)");
  if (kib) return value / 1024 + (value % 1024 != 0 ? 1 : 0);
  if (value > (std::uint64_t{1} << 40) >> shift) return fail();
  return value << shift;
}

void CheckTimeLimit(std::string_view text) {
  if (EqualsIgnoringCase(text, "UNLIMITED") || EqualsIgnoringCase(text, "INFINITE")) return;
  const auto fail = [&] {
    throw InputError("--time " + std::string(text) +
                     ": expected a Slurm time limit: minutes, minutes:seconds, hours:minutes:seconds, days-hours, "
                     "days-hours:minutes, days-hours:minutes:seconds, or UNLIMITED");
  };
  std::string_view rest = text;
  const size_t dash = rest.find('-');
  if (dash != std::string_view::npos) {
    if (!AllDigits(rest.substr(0, dash)) || dash > 6) fail();
    rest = rest.substr(dash + 1);
  }
  int parts = 0;
  while (true) {
    const size_t colon = rest.find(':');
    const std::string_view part = rest.substr(0, colon);
    if (!AllDigits(part) || part.size() > 9) fail();
    ++parts;
    if (colon == std::string_view::npos) break;
    rest = rest.substr(colon + 1);
  }
  if (parts > 3) fail();
}

void CheckPartition(std::string_view text) {
  const auto nameCharacter = [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '-' || c == '.'; };
  bool ok = !text.empty() && text.front() != ',' && text.back() != ',' && text.find(",,") == std::string_view::npos;
  for (unsigned char c : text) ok = ok && (nameCharacter(c) || c == ',');
  if (!ok)
    throw InputError("--partition " + std::string(text) +
                     ": expected partition names of letters, digits, '_', '-' and '.', separated by commas");
}

std::uint64_t MemoryRequestMiB(std::uint64_t estimateBytes) {
  const std::uint64_t margin = estimateBytes / 10;
  const std::uint64_t bytes = estimateBytes > UINT64_MAX - margin ? UINT64_MAX : estimateBytes + margin;
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  return bytes / kMiB + (bytes % kMiB != 0 ? 1 : 0);
}

// --- the batch script ------------------------------------------------------------------

std::string ShellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

std::string SbatchQuote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\n' || c == '\r')
      throw InputError("\"" + std::string(text) + "\": a line break cannot go into the batch script's #SBATCH lines");
    if (c == '"' || c == '\\' || c == '#') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string SlurmFilePattern(std::string_view text) {
  std::string pattern;
  for (char c : text) {
    pattern += c;
    if (c == '%') pattern += '%';
  }
  return pattern;
}

void CheckSlurmFileFolder(const fs::path& folder) {
  if (folder.string().find('\\') != std::string::npos)
    throw InputError("the job's folder " + Quoted(folder.string()) + " holds a backslash: Slurm drops it from a " +
                     "log file's name and then expands no %a, so every task's log would go to one wrong file; " +
                     "write the output in a folder without a backslash");
}

std::string BatchScript(std::span<const FarmTask> tasks, const BatchScriptOptions& o) {
  if (tasks.empty()) throw std::invalid_argument("BatchScript: a job needs at least one task");
  CheckSlurmFileFolder(o.logDir);
  std::size_t frames = 0;
  for (const FarmTask& t : tasks) frames += t.frames.size();
  std::string s = "#!/bin/bash\n";
  s += "# velumbra farm: " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " in " +
       std::to_string(tasks.size()) + (tasks.size() == 1 ? " task" : " tasks") + "\n";
  s += "#SBATCH --job-name=" + SbatchQuote(o.jobName) + "\n";
  s += "#SBATCH --array=0-" + std::to_string(tasks.size() - 1) + "\n";
  s += "#SBATCH --output=" + SbatchQuote(SlurmFilePattern((o.logDir / "task-").string()) + "%a.log") + "\n";
  s += "#SBATCH --mem=" + std::to_string(o.memoryMiB) + "M\n";
  if (o.cpus > 0) s += "#SBATCH --cpus-per-task=" + std::to_string(o.cpus) + "\n";
  if (!o.partition.empty()) s += "#SBATCH --partition=" + SbatchQuote(o.partition) + "\n";
  if (!o.timeLimit.empty()) s += "#SBATCH --time=" + SbatchQuote(o.timeLimit) + "\n";
  s += "\n# Each task renders its frames, consecutive frames of the list.\n";
  s += "case \"${SLURM_ARRAY_TASK_ID:-}\" in\n";
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    if (tasks[i].index != static_cast<int>(i)) throw std::invalid_argument("BatchScript: tasks must be indexed 0..n-1");
    s += "  ";
    s += std::to_string(i);
    s += ") frames=";
    s += ShellQuote(FrameListText(tasks[i].frames));
    s += " ;;\n";
  }
  s += "  *) echo \"velumbra farm: this job has no task '${SLURM_ARRAY_TASK_ID:-}'\" >&2; exit 2 ;;\n";
  s += "esac\n";
  s += "echo \"velumbra farm: job ${SLURM_ARRAY_JOB_ID:-} task ${SLURM_ARRAY_TASK_ID} on $(hostname): frames "
       "$frames\" >&2\n";
  s += "exec";
  for (const std::string& arg : o.render) {
    s += ' ';
    s += ShellQuote(arg);
  }
  s += " -f \"$frames\"\n";
  return s;
}

// --- the job folder ---------------------------------------------------------------------

fs::path OutputBaseFolder(const fs::path& output) {
  fs::path base;
  for (const fs::path& part : output.parent_path()) {
    if (HasFrameNumberField(part.string())) break;
    base /= FileOfName(part.string());
  }
  return base;
}

fs::path JobFolderPath(const fs::path& base, std::string_view stem, std::int64_t unixTime) {
  std::string name;
  for (unsigned char c : stem) name += std::isalnum(c) || c == '.' || c == '_' || c == '-' ? static_cast<char>(c) : '_';
  if (name.empty() || name.front() == '.') name.insert(name.begin(), 'j');
  const std::time_t t = static_cast<std::time_t>(unixTime);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  name += "-";
  name += stamp;
  return base / "velumbra-farm" / name;
}

fs::path MakeJobFolder(const fs::path& base, std::string_view stem, std::int64_t unixTime) {
  const fs::path first = JobFolderPath(base, stem, unixTime);
  const fs::path parent = first.parent_path();
  const std::string name = first.filename().string();
  std::error_code ec;
  fs::create_directories(parent, ec);
  if (ec) throw SystemError("cannot create the farm's folder " + parent.string() + ": " + ec.message());
  for (int n = 1; n < 1000; ++n) {
    const fs::path folder = parent / (n == 1 ? name : name + "-" + std::to_string(n));
    if (::mkdir(folder.c_str(), 0777) == 0) {
      fs::create_directory(folder / "logs", ec);
      if (ec) throw SystemError("cannot create " + (folder / "logs").string() + ": " + ec.message());
      return folder;
    }
    if (errno != EEXIST) throw SystemError("cannot create the job folder " + folder.string() + ": " + std::strerror(errno));
  }
  throw SystemError("cannot create a job folder in " + parent.string() + ": every name for " + name + " is taken");
}

JobFolderClaim::JobFolderClaim(const fs::path& base, std::string_view stem, std::int64_t unixTime) {
  std::error_code ec;
  for (fs::path p = JobFolderPath(base, stem, unixTime).parent_path(); !p.empty() && !fs::exists(p, ec);
       p = p.parent_path()) {
    made_.push_back(p);
    if (p == p.parent_path()) break;
  }
  folder_ = MakeJobFolder(base, stem, unixTime);
}

JobFolderClaim::~JobFolderClaim() {
  if (keep_) return;
  std::error_code ec;
  fs::remove_all(folder_, ec);
  // Only what is still empty: another submission may have put its job beside.
  for (const fs::path& p : made_) fs::remove(p, ec);
}

fs::path TaskLogPath(const fs::path& jobFolder, int index) {
  return jobFolder / "logs" / ("task-" + std::to_string(index) + ".log");
}

// --- outputs -----------------------------------------------------------------------------

std::vector<fs::path> FrameOutputFiles(const std::string& output, const std::string& idsPrefix, int frame) {
  std::vector<fs::path> files{OutputNameForFrame(output, frame)};
  if (!idsPrefix.empty()) {
    const std::string prefix = OutputNameForFrame(idsPrefix, frame);
    files.emplace_back(prefix + ".objectid.png");
    files.emplace_back(prefix + ".materialid.png");
  }
  return files;
}

OutputState CheckFrameOutputs(const std::vector<fs::path>& files) {
  OutputState state = OutputState::Complete;
  for (const fs::path& file : files) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) return OutputState::Missing;
    if (!fs::is_regular_file(status)) {
      state = OutputState::Damaged;
      continue;
    }
    const std::string name = file.filename().string();
    const auto endsWith = [&](std::string_view suffix) {
      return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    try {
      if (IsExrFile(file)) (void)ReadExrRgba(file);
      else if (endsWith(".objectid.png")) (void)ReadObjectIdPng(file);
      else if (endsWith(".materialid.png")) (void)ReadMaterialIdPng(file);
      else (void)ReadPngRgba(file);
    } catch (const std::exception&) {
      // Any reason it does not read (truncated, damaged, too large for
      // this machine's limit) makes the frame one to render again.
      state = OutputState::Damaged;
    }
  }
  return state;
}

std::vector<int> FramesToResume(std::span<const int> frames, const std::function<OutputState(int)>& state) {
  std::vector<int> out;
  for (int frame : frames)
    if (state(frame) != OutputState::Complete) out.push_back(frame);
  return out;
}

FileStamp StampOf(const fs::path& file) {
  struct stat st {};
  FileStamp stamp;
  if (::stat(file.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.changeSeconds = st.st_ctim.tv_sec;
  stamp.changeNanoseconds = st.st_ctim.tv_nsec;
  return stamp;
}

// --- the report of a finished job ---------------------------------------------------------

std::string LastErrorLine(std::string_view log) {
  std::string_view velumbraError, slurmLine;
  while (!log.empty()) {
    const size_t end = log.find('\n');
    std::string_view line = log.substr(0, end);
    log = end == std::string_view::npos ? std::string_view{} : log.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.find("velumbra: error:") != std::string_view::npos) velumbraError = line;
    else if (line.starts_with("slurmstepd:")) slurmLine = line;
  }
  return std::string(!velumbraError.empty() ? velumbraError : slurmLine);
}

std::vector<FailedTask> FailedTasks(std::span<const FarmTask> tasks, const std::function<bool(int)>& written,
                                    const std::map<int, SlurmTaskState>& states, const fs::path& jobFolder,
                                    const std::function<std::string(const fs::path&)>& readLog) {
  std::vector<FailedTask> failed;
  for (const FarmTask& task : tasks) {
    FailedTask f;
    for (int frame : task.frames)
      if (!written(frame)) f.missing.push_back(frame);
    if (f.missing.empty()) continue;
    f.index = task.index;
    f.frames = task.frames;
    f.log = TaskLogPath(jobFolder, task.index);
    if (const auto it = states.find(task.index); it != states.end()) {
      f.state = it->second.state;
      if (!it->second.reason.empty() && it->second.reason != "None") f.state += " (" + it->second.reason + ")";
    }
    f.lastError = LastErrorLine(readLog(f.log));
    failed.push_back(std::move(f));
  }
  return failed;
}

std::string FailureReport(const std::string& jobId, std::span<const FailedTask> failed, std::size_t missingFrames) {
  std::string s = "job " + jobId + ": " + std::to_string(missingFrames) + (missingFrames == 1 ? " frame" : " frames") +
                  " not written by " + std::to_string(failed.size()) + (failed.size() == 1 ? " task" : " tasks") + ":";
  for (const FailedTask& f : failed) {
    s += "\n  task " + std::to_string(f.index) + " (frames " + FrameListText(f.frames) + ")";
    if (f.missing != f.frames) s += ", missing " + FrameListText(f.missing);
    if (!f.state.empty()) s += ": " + f.state;
    if (!f.lastError.empty()) s += "\n    " + f.lastError;
    s += "\n    log: " + f.log.string();
  }
  s += "\nRun the same farm command with --resume to render only the frames that are missing or do not read.";
  return s;
}

}  // namespace velumbra
