#include "host/app/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string_view>

namespace velumbra {

namespace {

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

constexpr double kRedrawInterval = 0.1;  // seconds between bar redraws
constexpr int kBarWidth = 24;            // cells of the bar itself, at most
constexpr int kMinBarWidth = 6;          // a narrower bar is left out

int TerminalColumns(std::FILE* out) {
  winsize ws{};
  if (out && ::ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace

// --- ProgressReporter ------------------------------------------------------------

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || !std::isfinite(seconds)) return "--:--";
  const long total = std::lround(seconds);
  const long h = total / 3600, m = (total / 60) % 60, s = total % 60;
  char text[32];
  if (h > 0)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", h, m, s);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", m, s);
  return text;
}

ProgressReporter::Style ProgressReporter::StyleFor(bool quiet, std::FILE* out) {
  if (quiet) return Style::Quiet;
  return out && ::isatty(fileno(out)) ? Style::Bar : Style::Lines;
}

ProgressReporter::ProgressReporter(Style style, std::FILE* out, Clock clock, int columns)
    : style_(out ? style : Style::Quiet),
      out_(out),
      clock_(clock ? std::move(clock) : Clock(SteadySeconds)),
      columns_(columns > 0 ? columns : TerminalColumns(out)) {}

ProgressReporter::~ProgressReporter() { EndLine(); }

void ProgressReporter::StartFrame(int frame, int index, int count) {
  EndLine();
  frame_ = frame;
  index_ = std::max(0, index);
  count_ = std::max(1, count);
  fraction_ = 0.0;
  title_.clear();
  frameStart_ = clock_();
  if (renderStart_ < 0) renderStart_ = frameStart_;
  lastDraw_ = -1e300;
  if (style_ == Style::Lines && count_ > 1) {
    std::fprintf(out_, "frame %d (%d/%d)\n", frame_, index_ + 1, count_);
    std::fflush(out_);
  }
}

void ProgressReporter::FinishFrame() {
  if (style_ != Style::Bar) return;
  fraction_ = 1.0;
  const std::string line = BarLine(true);
  std::fprintf(out_, "\r%s\033[K\n", line.c_str());
  std::fflush(out_);
  lineOpen_ = false;
}

void ProgressReporter::EndLine() {
  if (!lineOpen_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  lineOpen_ = false;
}

BOOL ProgressReporter::Check() { return Interrupted() ? TRUE : FALSE; }

BOOL ProgressReporter::Progress(int done, int total) {
  fraction_ = total > 0 ? std::clamp(static_cast<double>(done) / total, 0.0, 1.0) : 0.0;
  if (style_ == Style::Bar) Draw();
  return Check();
}

void ProgressReporter::SetTitle(const MCHAR* title) {
  if (!title) return;
  title_ = title;
  fraction_ = 0.0;
  if (style_ == Style::Lines) {
    std::fprintf(out_, "%s\n", title);
    std::fflush(out_);
  } else if (style_ == Style::Bar) {
    Draw();
  }
}

void ProgressReporter::Draw() {
  const double now = clock_();
  if (now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  const std::string line = BarLine(false);
  std::fprintf(out_, "\r%s\033[K", line.c_str());
  std::fflush(out_);
  lineOpen_ = true;
}

std::string ProgressReporter::BarLine(bool finished) const {
  const double now = clock_();
  char head[64];
  std::snprintf(head, sizeof head, "frame %d (%d/%d) ", frame_, index_ + 1, count_);
  char tail[64], shortTail[16];
  if (finished) {
    std::snprintf(tail, sizeof tail, " done in %s", FormatDuration(now - frameStart_).c_str());
    std::snprintf(shortTail, sizeof shortTail, " done");
  } else {
    // The whole render's share done so far, frames counting equally; the
    // estimate is the elapsed time scaled by what is left. Too early to
    // tell below 1 %.
    const double share = (index_ + fraction_) / count_;
    const double elapsed = now - renderStart_;
    const double left = share >= 0.01 ? elapsed * (1.0 - share) / share : -1.0;
    std::snprintf(tail, sizeof tail, " %3d%% %s left", static_cast<int>(fraction_ * 100.0),
                  FormatDuration(left).c_str());
    std::snprintf(shortTail, sizeof shortTail, " %3d%%", static_cast<int>(fraction_ * 100.0));
  }
  // What gives way on a narrow terminal, in this order: the bar shrinks
  // (down to kMinBarWidth cells, then goes), the time estimate goes, the
  // percentage goes, and only then is the title cut. The last column stays free so that no terminal
  // wraps the line.
  const int columns = std::max(1, columns_ - 1);
  const int title = static_cast<int>(title_.size()) + (title_.empty() ? 0 : 1);
  const int headWidth = static_cast<int>(std::string_view(head).size());
  std::string_view end = tail;
  int barCells = kBarWidth;
  const auto width = [&] { return headWidth + title + (barCells > 0 ? barCells + 2 : 0) + static_cast<int>(end.size()); };
  if (width() > columns) barCells = std::max(0, columns - (width() - barCells));
  if (barCells < kMinBarWidth) barCells = 0;
  if (width() > columns) end = shortTail;
  if (width() > columns) end = "";
  std::string shownTitle = title_;
  const int room = columns - (width() - title);
  if (static_cast<int>(shownTitle.size()) + 1 > room) shownTitle.resize(static_cast<size_t>(std::max(0, room - 1)));
  std::string line = head;
  line += shownTitle;
  if (!shownTitle.empty() && barCells > 0) line += ' ';
  if (barCells > 0) {
    const int filled = static_cast<int>(fraction_ * barCells);
    line += '[';
    line += std::string(static_cast<size_t>(filled), '#');
    line += std::string(static_cast<size_t>(barCells - filled), '-');
    line += ']';
  }
  line += end;
  if (static_cast<int>(line.size()) > columns) line.resize(static_cast<size_t>(columns));
  return line;
}

}  // namespace velumbra
