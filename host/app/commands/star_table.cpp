#include "host/app/commands/star_table.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

#include "host/app/base/app_error.h"
#include "host/sdk/log_sys.h"

namespace velumbra {

namespace {

constexpr std::string_view kGeneratedHeader = "index,x,y,z,r,g,b,a,size\n";
constexpr std::string_view kSkyHeader = "index,x,y,z,r,g,b,a,size,magnitude,bv,light,ra,dec,fillin,name\n";

// Appends a float in its shortest form that reads back to it.
void AppendFloat(std::string& out, float v) {
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

// Appends a CSV field: as it is, or quoted (quotes doubled) when it holds a
// comma, a quote or a line end.
void AppendField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// Formats the records the module hands over. An exception of the text's
// sink stops the listing and waits here until the module has returned.
class CsvSink final : public StarRecordSink {
 public:
  explicit CsvSink(const std::function<void(std::string_view)>& sink) : sink_(sink) {
    out_.reserve(kStarsCsvChunk + 400);
  }

  // The header of what the module lists (a module that does not say lists
  // generated stars).
  void BeginStars(StarRecordsKind kind) override {
    if (begun_) return;
    begun_ = true;
    out_.append(kind == STAR_RECORDS_SKY ? kSkyHeader : kGeneratedHeader);
  }

  bool TakeStars(std::uint32_t first, const StarFieldRecord* stars, std::size_t count) override {
    BeginStars(STAR_RECORDS_GENERATED);
    try {
      char line[200];
      for (std::size_t k = 0; k < count; ++k) {
        const StarFieldRecord& s = stars[k];
        const int n = std::snprintf(line, sizeof line, "%u,%.9g,%.9g,%.9g,%u,%u,%u,%u,%.9g\n",
                                    first + static_cast<std::uint32_t>(k), static_cast<double>(s.pos.x),
                                    static_cast<double>(s.pos.y), static_cast<double>(s.pos.z), unsigned{s.color.r},
                                    unsigned{s.color.g}, unsigned{s.color.b}, unsigned{s.color.a},
                                    static_cast<double>(s.size));
        out_.append(line, static_cast<size_t>(n));
        if (out_.size() >= kStarsCsvChunk) Flush();
      }
      return true;
    } catch (...) {
      failure_ = std::current_exception();
      return false;
    }
  }

  bool TakeSkyStars(std::uint32_t first, const StarFieldRecord* stars, const SkyStarRecord* sky,
                    std::size_t count) override {
    BeginStars(STAR_RECORDS_SKY);
    try {
      char text[64];
      for (std::size_t k = 0; k < count; ++k) {
        const StarFieldRecord& s = stars[k];
        const SkyStarRecord& d = sky[k];
        out_.append(std::to_string(first + static_cast<std::uint32_t>(k)));
        for (float v : {s.pos.x, s.pos.y, s.pos.z}) {
          out_.push_back(',');
          AppendFloat(out_, v);
        }
        for (unsigned v : {unsigned{s.color.r}, unsigned{s.color.g}, unsigned{s.color.b}, unsigned{s.color.a}}) {
          out_.push_back(',');
          out_.append(std::to_string(v));
        }
        for (float v : {s.size, d.magnitude, d.bv, d.light}) {
          out_.push_back(',');
          if (!std::isnan(v)) AppendFloat(out_, v);
        }
        const double degrees = 180.0 / 3.14159265358979323846;
        const int n = std::snprintf(text, sizeof text, ",%.7f,%.7f,%d,", d.ra * degrees, d.dec * degrees,
                                    d.fillIn ? 1 : 0);
        out_.append(text, static_cast<size_t>(n));
        AppendField(out_, d.name ? std::string_view(d.name) : std::string_view());
        out_.push_back('\n');
        if (out_.size() >= kStarsCsvChunk) Flush();
      }
      return true;
    } catch (...) {
      failure_ = std::current_exception();
      return false;
    }
  }

  void Flush() {
    sink_(out_);
    out_.clear();
  }

  std::exception_ptr failure() const { return failure_; }
  bool pending() const { return !out_.empty(); }

 private:
  const std::function<void(std::string_view)>& sink_;
  std::string out_;
  bool begun_ = false;
  std::exception_ptr failure_;
};

// The errors the module wrote to the host's log, as one message.
std::string LoggedErrors() {
  std::string errors;
  for (const LogRecord& entry : GetHostLog()->Take())
    if (entry.type & SYSLOG_ERROR)
      errors += (errors.empty() ? "" : "; ") + (entry.title.empty() ? "" : entry.title + ": ") + entry.message;
  return errors;
}

}  // namespace

void WriteStarsCsv(IStarField& effect, TimeValue t, CheckAbortCallback* progress,
                   const std::function<void(std::string_view)>& sink) {
  CsvSink csv(sink);
  GetHostLog()->Take();  // entries of earlier work are not this listing's
  const StarRecordsResult result = effect.EnumStarRecords(t, csv, progress);
  switch (result) {
    case STAR_RECORDS_DONE:
      break;
    case STAR_RECORDS_STOPPED:
      if (csv.failure()) std::rethrow_exception(csv.failure());
      break;
    case STAR_RECORDS_ABORTED:
      throw Interrupted{};
    case STAR_RECORDS_NO_MEMORY:
      throw SystemError("not enough memory for the star records");
    case STAR_RECORDS_BAD_INPUT: {
      const std::string errors = LoggedErrors();
      throw InputError(errors.empty() ? "the effect's parameters name a file or text it cannot use" : errors);
    }
  }
  if (result != STAR_RECORDS_DONE) throw SystemError("the effect could not list its star records");
  csv.BeginStars(STAR_RECORDS_GENERATED);  // a module that listed nothing without saying what
  if (csv.pending()) csv.Flush();
}

std::string StarsCsv(IStarField& effect, TimeValue t) {
  std::string out;
  WriteStarsCsv(effect, t, nullptr, [&](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace velumbra
